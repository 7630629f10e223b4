#include "vorbis/floor1_codec.h"

#include "coder/bit_direction.h"
#include "ogg/bit_io.h"
#include "vorbis/codeword_io.h"

#include <array>

int floor1_end_value_bits(int multiplier) {
    static const int ranges[4] = {256, 128, 86, 64};
    return ilog(static_cast<uint32_t>(ranges[(multiplier - 1) & 3] - 1));
}

namespace {

// The unpacker's choice for one value: the first sub-class whose book can hold it (a sub-class
// without book holds only 0), sub-class 0 if none can.
int choose_subclass(const VorbisSetup& setup, const Floor1& floor, int cls, int32_t y) {
    const int count = 1 << floor.class_subclasses[cls];
    for (int t = 0; t < count; ++t) {
        const int book = floor.subclass_books[cls][t];
        const int32_t limit = book >= 0 ? setup.codebooks[static_cast<size_t>(book)].entries : 1;
        if (limit > y) return t;
    }
    return 0;
}

// Packing: the Y values of one channel's floor from the original packet, in X-list order.
bool parse_floor(VorbisContext& ctx, const Floor1& floor, int32_t* y) {
    VorbisSetup& setup = *ctx.setup;
    const int end_bits = floor1_end_value_bits(floor.multiplier);
    y[0] = static_cast<int32_t>(take_bits(ctx, end_bits));
    y[1] = static_cast<int32_t>(take_bits(ctx, end_bits));
    int index = 2;
    for (int p = 0; p < floor.partitions; ++p) {
        const int cls = floor.partition_class[p];
        const int dims = floor.class_dimensions[cls];
        const int bits = floor.class_subclasses[cls];
        int32_t cval = 0;
        if (bits > 0) {
            const CodewordDecoder* master = decoder_for(setup, floor.class_masterbook[cls]);
            cval = master ? take_codeword(ctx, *master) : -1;
            if (cval < 0) return false;
        }
        int32_t rebuilt = 0;
        for (int e = 0; e < dims; ++e, ++index) {
            const int sub = (cval >> (e * bits)) & ((1 << bits) - 1);
            const int book = floor.subclass_books[cls][sub];
            y[index] = 0;
            if (book >= 0) {
                const CodewordDecoder* decoder = decoder_for(setup, book);
                y[index] = decoder ? take_codeword(ctx, *decoder) : -1;
                if (y[index] < 0) return false;
            }
            if (y[index] > 255) return false;
            rebuilt |= choose_subclass(setup, floor, cls, y[index]) << (e * bits);
        }
        if (rebuilt != cval) return false; // the encoder chose another sub-class than the unpacker would
    }
    return true;
}

// Unpacking: the floor packet of one channel from its Y values.
bool write_floor(VorbisContext& ctx, const Floor1& floor, const int16_t* y) {
    const VorbisSetup& setup = *ctx.setup;
    const int end_bits = floor1_end_value_bits(floor.multiplier);
    write_bits(ctx, static_cast<uint32_t>(y[0]), end_bits);
    write_bits(ctx, static_cast<uint32_t>(y[1]), end_bits);
    int index = 2;
    for (int p = 0; p < floor.partitions; ++p) {
        const int cls = floor.partition_class[p];
        const int dims = floor.class_dimensions[cls];
        const int bits = floor.class_subclasses[cls];
        std::array<int, 8> choice{};
        int32_t cval = 0;
        for (int e = 0; e < dims; ++e) {
            choice[e] = bits > 0 ? choose_subclass(setup, floor, cls, y[index + e]) : 0;
            cval |= choice[e] << (e * bits);
        }
        if (bits > 0) {
            const Codebook& master = setup.codebooks[floor.class_masterbook[cls]];
            if (cval >= master.entries || !codeword_present(master, cval)) return false;
            write_codeword(ctx, master, cval);
        }
        for (int e = 0; e < dims; ++e, ++index) {
            const int book = floor.subclass_books[cls][choice[e]];
            if (book < 0) continue;
            const Codebook& b = setup.codebooks[static_cast<size_t>(book)];
            if (y[index] >= b.entries || !codeword_present(b, y[index]))
                return false; // a value the chosen book cannot hold
            write_codeword(ctx, b, y[index]);
        }
    }
    return true;
}

// The Y values of one floor in ascending X order, under their contexts. Packing codes the values parsed
// into y; unpacking decodes them into y, the channel's floor itself (every X index below floor.values
// is coded).
template <class Dir, class Value>
void code_floor_values(Dir& dir, VorbisContext& ctx, const Floor1& floor, int f, Value* y) {
    uint16_t* const probs = ctx.packet_probs;
    uint8_t* const memory = ctx.scratch_small + f * 256;
    const uint8_t* const sorted_order = floor.sorted_order.data();
    const int values = floor.values;
    LocalBits<Dir> d(dir);
    int h = 0;
    for (int i = 0; i < values; ++i) {
        const int x = sorted_order[i];
        const uint32_t known = Dir::packing ? static_cast<uint32_t>(y[x]) : 0;
        const int flag = d.bit(probs[floor_value_flag_prob(f, x, h)], known != 0 ? 1 : 0);
        h = ((h << 1) | flag) & 3;
        if (!flag) {
            y[x] = 0;
            memory[x] = 0;
            continue;
        }
        const int p = memory[x];
        const uint32_t known_class = known ? static_cast<uint32_t>(ilog(known) - 1) : 0;
        const int k = static_cast<int>(d.tree(probs + floor_class_tree(f, x, p), 3, known_class));
        uint32_t value = 1;
        int g = 0;
        for (int j = 0; j < k; ++j) {
            const int bit = d.bit(probs[floor_mantissa_prob(x, f, k, j, g)],
                                  static_cast<int>((known >> (k - 1 - j)) & 1));
            value = 2 * value + static_cast<uint32_t>(bit);
            g = ((g << 1) | bit) & 3;
        }
        y[x] = static_cast<Value>(value);
        memory[x] = static_cast<uint8_t>(k);
    }
    d.finish();
}

} // namespace

template <class Dir> bool code_floor1(Dir& d, VorbisContext& ctx, const Mapping& mapping, int32_t* no_floor) {
    VorbisSetup& setup = *ctx.setup;
    uint16_t* const probs = ctx.packet_probs;
    for (int c = 0; c < setup.channels; ++c) {
        const int f = mapping.submap_floor[mapping.channel[static_cast<size_t>(c)].mux];
        const Floor1& floor = setup.floors[static_cast<size_t>(f)];
        uint32_t known = 0;
        if constexpr (Dir::packing) known = take_bits(ctx, 1);
        const int flag =
            d.bit(probs[kFloorNonzeroProbs + ctx.floor_nonzero_history], static_cast<int>(known));
        if constexpr (!Dir::packing) write_bits(ctx, static_cast<uint32_t>(flag), 1);
        ctx.floor_nonzero_history = static_cast<uint8_t>(((ctx.floor_nonzero_history << 1) | flag) & 3);
        no_floor[c] = flag ? 0 : 1;
        if (!flag) continue;
        int16_t* out = setup.channel_floor_y[static_cast<size_t>(c)].data();
        if constexpr (Dir::packing) {
            std::array<int32_t, kMaxFloorValues> y{};
            if (!parse_floor(ctx, floor, y.data())) return fail_stream<Dir>(ctx);
            code_floor_values(d, ctx, floor, f, y.data());
            for (int i = 0; i < floor.values; ++i)
                out[i] = static_cast<int16_t>(y[static_cast<size_t>(i)]);
        } else {
            code_floor_values(d, ctx, floor, f, out);
            if (!write_floor(ctx, floor, out)) return false;
        }
    }
    return true;
}

template bool code_floor1<Unpacking>(Unpacking&, VorbisContext&, const Mapping&, int32_t*);
template bool code_floor1<Packing>(Packing&, VorbisContext&, const Mapping&, int32_t*);
