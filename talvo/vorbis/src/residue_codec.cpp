#include "vorbis/residue_codec.h"

#include "coder/bit_direction.h"
#include "ogg/bit_io.h"
#include "vorbis/codebook_slots.h"
#include "vorbis/codec_events.h"
#include "vorbis/codeword_io.h"
#include "vorbis/vorbis_setup.h"

#include <type_traits>
#include <utility>

namespace {

uint32_t magnitude_of_value(int32_t v) {
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

// Where one value of a vector sits, and whether its channel is coded at all (type 2 only).
struct ValueSite {
    int32_t position;
    int lane;
    bool coded;
};

constexpr int kMaxVectorValues = 64;

// Where the values of one vector sit: a list made for the vector, or (type 2 over two coded channels,
// the common stereo case) computed as the values alternate between the channels.
struct SiteList {
    const ValueSite* sites;
    int32_t position(int i) const { return sites[i].position; }
    int lane(int i) const { return sites[i].lane; }
    bool coded(int i) const { return sites[i].coded; }
};

struct StereoSites {
    int32_t first_position;
    int first_channel; // 0 or 1
    int32_t position(int i) const { return first_position + ((first_channel + i) >> 1); }
    int lane(int i) const { return (first_channel + i) & 1; }
    static bool coded(int) { return true; }
};

// Full stereo vectors of an even dimension all start on the channel the partition starts on: with that
// channel fixed, each value's lane and position offset are constants of the unrolled vector.
template <int FirstChannel> struct FixedStereoSites {
    int32_t first_position;
    int32_t position(int i) const { return first_position + ((FirstChannel + i) >> 1); }
    static int lane(int i) { return (FirstChannel + i) & 1; }
    static bool coded(int) { return true; }
};

// What "the last value was coded under the same slot" adds to a zero flag's context.
constexpr int32_t kSameSlotBias = slot_nonzero_prob(0, 0, 0, 0, 0, 1) - slot_nonzero_prob(0, 0, 0, 0, 0, 0);

// ResidueState in locals for a vector, so that stores into the residue memory (bytes, which may alias
// anything) do not force it to be reloaded for every value.
struct ResidueLocals {
    int last_nonzero;
    int last_class;
    uint8_t sign_history[4];
    // The same-slot part of the zero flag's context for the values of `slot`: it can differ only for the
    // first value coded, so it is settled once instead of compared for every value. Once a value is
    // coded it is the bias, and the last slot is `slot`, which is why the last slot needs no local.
    int32_t same_slot_bias;
    int slot;

    [[gnu::always_inline]] ResidueLocals(const ResidueState& st, int coded_slot)
        : last_nonzero(st.last_nonzero),
          last_class(st.last_class), sign_history{st.sign_history[0], st.sign_history[1], st.sign_history[2],
                                                  st.sign_history[3]},
          same_slot_bias(st.last_slot == coded_slot ? kSameSlotBias : 0), slot(coded_slot) {}

    [[gnu::always_inline]] void store(ResidueState& st) const {
        st.last_nonzero = static_cast<uint8_t>(last_nonzero);
        st.last_class = static_cast<uint8_t>(last_class);
        if (same_slot_bias != 0) st.last_slot = static_cast<uint8_t>(slot);
        for (int lane = 0; lane < 4; ++lane)
            st.sign_history[lane] = sign_history[lane];
    }
};

// The decisions, the residue state and the packet's codewords (written, or read when packing) of one
// partition's vectors, held in locals from construction to destruction (every way out of the partition
// hands them back). Nothing else may use the data decoder or the packet's cursor meanwhile.
template <class Dir> struct ResidueCoder {
    LocalBits<Dir> bits;
    ResidueLocals st;
    std::conditional_t<Dir::packing, LocalCodewordReader, LocalBitWriter> codewords;
    ResidueState& home;
    [[gnu::always_inline]] ResidueCoder(Dir& d, VorbisContext& ctx, ResidueState& state, int slot)
        : bits(d), st(state, slot), codewords(ctx), home(state) {}
    // Inline, as everything that touches these locals: a call that takes their address would keep them
    // in memory, stored to after every decision.
    [[gnu::always_inline]] ~ResidueCoder() {
        bits.finish();
        st.store(home);
        codewords.store();
    }
    ResidueCoder(const ResidueCoder&) = delete;
    ResidueCoder& operator=(const ResidueCoder&) = delete;
};

// What one vector's values share: the slot's probability block and the residue memory of this pass
// and of the pass before (the same for pass 0, which sees the previous packet's pass 0).
struct VectorModels {
    uint16_t* block;
    const uint8_t* previous;
    uint8_t* current;
    int r4;
    int slot;
};

VectorModels vector_models(VorbisContext& ctx, int r4, int slot, int pass) {
    uint8_t* base = ctx.scratch_large + (static_cast<size_t>(r4) << 18);
    return {ctx.packet_probs + slot_block_offset(slot),
            base + (static_cast<size_t>(pass > 0 ? pass - 1 : 0) << 15),
            base + (static_cast<size_t>(pass) << 15), r4, slot};
}

// What the state byte e, left at a value's place by the pass before, adds to the value's contexts. The
// model functions are linear in the parts of e they take, so each part is its function's difference
// from e = 0. Looked up by e, because the comparisons of e compile to branches that the data defeats.
struct StateOffsets {
    int32_t nonzero[256];
    int32_t sign[256];
    int32_t one[256];
};

constexpr StateOffsets make_state_offsets() {
    StateOffsets offsets{};
    for (int e = 0; e < 256; ++e) {
        const int empty = e == 0 ? 1 : 0;
        offsets.nonzero[e] =
            slot_nonzero_prob(0, 0, 0, 0, (e & 7) == 0 ? 1 : 0, 0) - slot_nonzero_prob(0, 0, 0, 0, 0, 0);
        offsets.sign[e] = slot_sign_prob(0, 0, 0, 0, 0, e >> 7, empty) - slot_sign_prob(0, 0, 0, 0, 0, 0, 0);
        offsets.one[e] = slot_one_prob(0, 0, 0, 0, 0, empty) - slot_one_prob(0, 0, 0, 0, 0, 0);
    }
    return offsets;
}

constexpr StateOffsets kStateOffsets = make_state_offsets();

// Every state byte, at the largest value of each other argument, gives the context the model
// functions give.
constexpr bool state_offsets_match() {
    for (int e = 0; e < 256; ++e) {
        const int empty = e == 0 ? 1 : 0;
        if (slot_nonzero_prob(3, 8191, 3, 1, (e & 7) == 0 ? 1 : 0, 1) !=
                slot_nonzero_prob(3, 8191, 3, 1, 0, 1) + kStateOffsets.nonzero[e] ||
            slot_sign_prob(3, 3, 3, 1, 13, e >> 7, empty) !=
                slot_sign_prob(3, 3, 3, 1, 13, 0, 0) + kStateOffsets.sign[e] ||
            slot_one_prob(3, 3, 1, 9, 13, empty) != slot_one_prob(3, 3, 1, 9, 13, 0) + kStateOffsets.one[e])
            return false;
    }
    return true;
}
static_assert(state_offsets_match(), "the contexts are linear in the parts of the state byte");

// One residue value at (position, lane) of a vector; see code_residue_value.
template <class Bits>
[[gnu::always_inline]] inline int32_t residue_value(Bits& bits, ResidueLocals& st, const VectorModels& m,
                                                    int32_t position, int lane, int32_t known) {
    const size_t at = 4 * static_cast<size_t>(position) + static_cast<size_t>(lane);
    const uint8_t e = m.previous[at];
    uint16_t* block = m.block;
    const int r4 = m.r4;
    const uint32_t magnitude = magnitude_of_value(known);
    // Lane 0 updates the last-value contexts; the others leave them (masks, not branches).
    const int lane_0 = lane == 0 ? 1 : 0;
    const int keep_unless_lane_0 = lane_0 - 1;

    const int nonzero = bits.bit(block[slot_nonzero_prob(r4, position, lane, st.last_nonzero, 0, 0) +
                                       st.same_slot_bias + kStateOffsets.nonzero[e]],
                                 magnitude != 0);
    // A zero value is a coded value too: the next value's same-slot context looks at it (the last slot
    // becomes this one). Archives made by other packers cannot be restored when only nonzero values set
    // the slot.
    st.same_slot_bias = kSameSlotBias;
    if (!nonzero) {
        m.current[at] = 0;
        st.last_nonzero &= keep_unless_lane_0;
        st.last_class &= keep_unless_lane_0;
        return 0;
    }
    const int b = ilog(static_cast<uint32_t>(position));
    const int sign =
        bits.bit(block[slot_sign_prob(r4, lane, st.sign_history[lane], st.last_nonzero, b, 0, 0) +
                       kStateOffsets.sign[e]],
                 known < 0 ? 1 : 0);
    st.sign_history[lane] = static_cast<uint8_t>(((st.sign_history[lane] << 1) | sign) & 3);
    st.last_nonzero |= lane_0;
    const int one = bits.bit(block[slot_one_prob(r4, lane, sign, st.last_class, b, 0) + kStateOffsets.one[e]],
                             magnitude == 1 ? 1 : 0);
    uint32_t value = 1;
    uint8_t state = 0;
    if (one) {
        state = static_cast<uint8_t>(sign * 128 + 1);
        st.last_class = lane_0 ? 1 : st.last_class;
    } else {
        const uint32_t known_class = magnitude >= 2 ? static_cast<uint32_t>(ilog(magnitude) - 2) : 0;
        const int k =
            static_cast<int>(bits.tree(block + slot_class_tree(r4, lane, st.last_class), 3, known_class));
        uint16_t* mantissa = block + slot_mantissa_table(r4, lane, k, st.last_class);
        for (int i = k; i >= 0; --i)
            value = 2 * value + static_cast<uint32_t>(
                                    bits.bit(mantissa[value & 3], static_cast<int>((magnitude >> i) & 1)));
        state = static_cast<uint8_t>(sign * 128 + k + 2);
        st.last_class = lane_0 ? k + 2 : st.last_class;
    }
    m.current[at] = state;
    return sign ? -static_cast<int32_t>(value) : static_cast<int32_t>(value);
}

// Tuple codes and class words of long vectors are kept from overflowing: anything beyond every table
// is refused alike.
int64_t saturate(int64_t v) {
    constexpr int64_t kLimit = int64_t{1} << 30; // times a radix of at most 2^24 still fits
    // One test on the way every real vector takes.
    if (static_cast<uint64_t>(v + kLimit) > static_cast<uint64_t>(2 * kLimit)) [[unlikely]]
        return v > kLimit ? kLimit : -kLimit;
    return v;
}

// The residue cannot go on: the stream fails (fail_stream).
template <class Dir> int refuse_residue(VorbisContext& ctx) {
    fail_stream<Dir>(ctx);
    return kResidueRefused;
}

// Before each vector: a packet cut short ends here, with the bits of its cut final codeword. The
// unpacker writes those bits and stops; packing finds the cut where the original's remaining bits hold
// no whole codeword of the vector's book, and records the cut bits for the packet's auxiliary fields.
template <class Dir> bool packet_cut_near_end(VorbisContext& ctx, const CodewordDecoder* decoder) {
    const int32_t bits_left = packet_bits_left(ctx);
    const bool unpacker_stops =
        ctx.packet_remaining < 3 && ctx.packet_ends_here && bits_left <= ctx.truncated_bits;
    if constexpr (!Dir::packing) {
        // The low truncated_bits bits of the cut codeword; a count of 0 writes nothing, while a code of
        // 0 with a nonzero count still writes (and moves over) its zero bits.
        if (unpacker_stops) write_bits(ctx, static_cast<uint32_t>(ctx.truncated_code), ctx.truncated_bits);
        return unpacker_stops;
    } else {
        VorbisSetup& setup = *ctx.setup;
        if (setup.packet_cut_decided) {
            if (unpacker_stops) take_bits(ctx, ctx.truncated_bits);
            return unpacker_stops;
        }
        if (!ctx.packet_ends_here || bits_left > kMaxCodewordLength) return false;
        if (peek_codeword_length(ctx, *decoder, bits_left) > 0) return false;
        if (ctx.packet_remaining >= 3) {
            fail_stream<Dir>(ctx);
            return true;
        }
        setup.packet_cut_decided = true;
        ctx.truncated_bits = bits_left;
        ctx.truncated_code = static_cast<int32_t>(take_bits(ctx, bits_left));
        return true;
    }
}

// A packet is cut only within its last bytes: the unpacker stops with fewer than three bytes left, and
// packing looks for a cut only where at most kMaxCodewordLength bits are left (with the byte under the
// cursor, at most four bytes more).
template <class Dir>
[[gnu::always_inline]] inline bool packet_cut_here(ResidueCoder<Dir>& rc, VorbisContext& ctx,
                                                   const CodewordDecoder* decoder) {
    static_assert(kMaxCodewordLength < 5 * 8, "five bytes left hold more bits than any codeword");
    if (!rc.codewords.near_packet_end()) return false;
    rc.codewords.store();
    const bool cut = packet_cut_near_end<Dir>(ctx, decoder);
    rc.codewords.take();
    return cut;
}

// What the vectors of one partition take from their book, loaded once per partition: the stores into
// the packet and the residue memory (bytes, which may alias anything) would otherwise reload it for
// every vector.
struct VectorBook {
    const Codebook* book;
    const CodewordDecoder* decoder; // packing only; null when the codeword lengths form no prefix code
    const int32_t* value_table;
    const uint32_t* codewords; // by index: entry, or sorted index of a sparse book
    const uint8_t* lengths;
    int32_t indices; // entries, or sorted entries of a sparse book
    int32_t tuple_count;
    int64_t radix;
    int64_t half_radix; // the centre of the stored values
    // Packing only: the book's stored values, the entry of each sorted index of a sparse book (null for
    // a book that is not), and the decoder's values of each codeword index (null when it holds none).
    int64_t lookup_values;
    const int32_t* sorted_values;
    const int32_t* entry_values;
    int32_t entry_dimensions;
    const uint8_t* entry_round_trips; // null when the decoder holds none
    // A vector's tuple code, of at most `dimensions` values, cannot overflow: the value-to-entry table
    // was built, which bounds radix^dimensions by kMaxTupleCount, or the radix is 0 (every book with a
    // lookup is one or the other once its stream's setup is read). Wherever saturating the code would
    // have changed it, the exact code lies outside the table as well, so a vector is refused alike.
    bool exact;
};
// The bound behind `exact`: |code| stays below (radix / 2 + kMaxResidueMagnitude) x dimensions x
// radix^(dimensions - 1) (radix >= 2), below 2^39; and a code that saturation would have clamped at
// 2^30 cannot come back below the largest table, however many values follow.
static_assert(kMaxTupleCount <= (int64_t{1} << 24) && kMaxVectorValues <= 64 && kMaxResidueMagnitude < 512);
static_assert((int64_t{1} << 30) - int64_t{kMaxVectorValues} * kMaxResidueMagnitude > kMaxTupleCount);

template <class Dir>
[[gnu::always_inline]] inline VectorBook vector_book(VorbisSetup& setup, int book_number) {
    const Codebook& book = setup.codebooks[static_cast<size_t>(book_number)];
    const CodewordDecoder* decoder = nullptr;
    const int32_t* entry_values = nullptr;
    const uint8_t* entry_round_trips = nullptr;
    if constexpr (Dir::packing) {
        decoder = decoder_for(setup, book_number);
        if (decoder && !decoder->entry_values.empty()) entry_values = decoder->entry_values.data();
        if (decoder && !decoder->entry_round_trips.empty())
            entry_round_trips = decoder->entry_round_trips.data();
    }
    return {&book,
            decoder,
            book.value_table.data(),
            book.sparse ? book.sorted_codewords.data() : book.codewords.data(),
            book.codeword_lengths.data(),
            book.sparse ? book.sorted_entries : book.entries,
            book.tuple_count,
            book.value_radix,
            book.value_radix / 2,
            static_cast<int64_t>(book.stored_values.size()),
            book.sparse ? book.sorted_values.data() : nullptr,
            entry_values,
            decoder ? decoder->entry_dimensions : 0,
            entry_round_trips,
            book.has_entry_table || book.value_radix == 0};
}

// One vector: its values at `sites`, then the codeword of the entry they name. `count` is an int, or a
// std::integral_constant for the common full vectors.
template <class Dir, class Sites, class Count>
[[gnu::always_inline]] inline int code_vector(ResidueCoder<Dir>& rc, VorbisContext& ctx, const VectorBook& vb,
                                              const VectorModels& models, Count count, const Sites& sites) {
    const Codebook& book = *vb.book;
    const CodewordDecoder* decoder = vb.decoder;
    if constexpr (Dir::packing) {
        if (!decoder) return refuse_residue<Dir>(ctx);
    }
    if (packet_cut_here(rc, ctx, decoder)) return ctx.inexpressible ? kResidueRefused : kResidueEnded;
    if (count > kMaxVectorValues || !vb.exact) return refuse_residue<Dir>(ctx);

    int32_t original = 0;
    int64_t entry = 0;
    int64_t lookup_values = 0;
    if constexpr (Dir::packing) {
        lookup_values = vb.lookup_values;
        original = rc.codewords.codeword(*decoder);
        if (original < 0 || lookup_values == 0) return refuse_residue<Dir>(ctx);
        entry = vb.sorted_values ? vb.sorted_values[static_cast<size_t>(original)] : original;
        if (entry < 0 || entry > kMaxEntries) return refuse_residue<Dir>(ctx);
    }
    const int64_t radix = vb.radix;
    const int64_t half = vb.half_radix;
    int64_t code = 0;
    // Packing: the values the entry stands for, from the decoder's table or else from the entry's
    // digits base lookup_values, lowest first (the stored values they name, centred).
    const int32_t* known_values = nullptr;
    int32_t values_of_digits[kMaxVectorValues];
    if constexpr (Dir::packing) {
        if (vb.entry_values) {
            known_values =
                vb.entry_values + static_cast<size_t>(original) * static_cast<size_t>(vb.entry_dimensions);
        } else {
            uint64_t digits = static_cast<uint64_t>(entry);
            for (int i = 0; i < count; ++i) {
                const uint64_t rest = (digits * decoder->digit_multiplier) >> decoder->digit_shift;
                values_of_digits[i] = book.stored_values[static_cast<size_t>(
                                          digits - rest * static_cast<uint64_t>(lookup_values))] -
                                      static_cast<int32_t>(half);
                digits = rest;
            }
            known_values = values_of_digits;
        }
    }
    // Packing a full vector whose entry is known to come back as itself (CodewordDecoder::
    // entry_round_trips): its values are coded with nothing to check.
    if constexpr (Dir::packing && !std::is_integral_v<Count>) {
        if (vb.entry_round_trips && vb.entry_dimensions == Count::value &&
            vb.entry_round_trips[static_cast<size_t>(original)]) {
            [&]<int... I>(std::integer_sequence<int, I...>) __attribute__((always_inline)) {
                (residue_value(rc.bits, rc.st, models, sites.position(I), sites.lane(I), known_values[I]),
                 ...);
            }
            (std::make_integer_sequence<int, Count::value>{});
            return kResidueDone;
        }
    }
    // Value i; false when packing cannot express it. The code needs no saturation (VectorBook::exact).
    const auto code_value = [&](int i) __attribute__((always_inline))->bool {
        int32_t known = 0;
        if constexpr (Dir::packing) {
            known = known_values[i];
            if (sites.coded(i) && magnitude_of_value(known) > kMaxResidueMagnitude) return false;
        }
        code *= radix;
        if (sites.coded(i))
            code += residue_value(rc.bits, rc.st, models, sites.position(i), sites.lane(i), known) + half;
        return true;
    };
    bool expressible = true;
    if constexpr (std::is_integral_v<Count>) {
        for (int i = 0; i < count && expressible; ++i)
            expressible = code_value(i);
    } else {
        // Unrolled: the loop's exit is mispredicted wherever the books' dimensions change.
        expressible = [&]<int... I>(std::integer_sequence<int, I...>) __attribute__((always_inline)) {
            return (code_value(I) && ...);
        }
        (std::make_integer_sequence<int, Count::value>{});
    }
    if (!expressible) return refuse_residue<Dir>(ctx);
    if (static_cast<uint64_t>(code) >= static_cast<uint64_t>(vb.tuple_count)) { // or negative
        if constexpr (!Dir::packing) report_event(ctx.events, CodecEvent::ResidueValueOverflow);
        return refuse_residue<Dir>(ctx);
    }
    const int32_t index = vb.value_table[static_cast<size_t>(code)];
    // As codeword_present.
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(vb.indices) ||
        vb.lengths[index] == kAbsentEntry)
        return refuse_residue<Dir>(ctx);
    if constexpr (Dir::packing) {
        if (index != original) return refuse_residue<Dir>(ctx);
    } else {
        rc.codewords.write_codeword(vb.codewords[index], vb.lengths[index]);
    }
    return kResidueDone;
}

// Pass 0: the classes of one group of partitions for one channel, and the class book codeword.
template <class Dir>
bool code_class_word(Dir& d, VorbisContext& ctx, const Residue& residue, int r4, int32_t first,
                     int classwords, int32_t* classes) {
    VorbisSetup& setup = *ctx.setup;
    const Codebook& classbook = setup.codebooks[residue.classbook];
    const int classifications = residue.classifications;
    int32_t original = 0;
    if constexpr (Dir::packing) {
        const CodewordDecoder* decoder = decoder_for(setup, residue.classbook);
        original = decoder ? take_codeword(ctx, *decoder) : -1;
        if (original < 0) return fail_stream<Dir>(ctx);
    }
    int64_t word = 0;
    bool named = true;
    LocalBits<Dir> bits(d); // the coder in locals for the word's trees
    for (int i = 0; i < classwords; ++i) {
        uint32_t known = 0;
        if constexpr (Dir::packing)
            known = residue.class_digits[static_cast<size_t>(original) * classwords + i];
        const int32_t v = first + i;
        uint16_t* tree = ctx.packet_probs + residue_class_tree(v, r4);
        const int cls = static_cast<int>(bits.tree(tree, 4, known));
        // A class beyond the residue's classifications names no book list.
        if (cls >= classifications) {
            named = false;
            break;
        }
        classes[v] = cls;
        word = saturate(word * classifications + cls);
    }
    bits.finish();
    if (!named) return fail_stream<Dir>(ctx);
    if constexpr (Dir::packing) {
        if (word != original) return fail_stream<Dir>(ctx);
    } else {
        if (word >= classbook.entries || !codeword_present(classbook, static_cast<int32_t>(word)))
            return false;
        write_codeword(ctx, classbook, static_cast<int32_t>(word));
    }
    return true;
}

// The passes that code anything for the classes of `partitions` partitions, read in pass 0. Most of
// the eight passes have no book for any class a packet uses: such a pass is skipped whole, instead of
// going through every partition only to find no book (a twentieth of the instructions of packing a
// large file went into that).
uint32_t passes_of_classes(const Residue& residue, const int32_t* classes, uint32_t partitions) {
    uint32_t passes = 0;
    for (uint32_t p = 0; p < partitions; ++p)
        passes |= residue.class_passes[static_cast<size_t>(classes[p])];
    return passes;
}

template <class Dir>
int residue_types_0_1(Dir& d, VorbisContext& ctx, const Residue& residue, int type, int ch, int r,
                      const uint8_t* do_not_decode) {
    VorbisSetup& setup = *ctx.setup;
    const int r4 = r & 3;
    const int classwords = setup.codebooks[residue.classbook].dimensions;
    const uint32_t partitions = (residue.end - residue.begin) / residue.partition_size;
    if (classwords <= 0) return kResidueDone;
    uint32_t coded_passes = 1; // pass 0 reads the classes
    for (int pass = 0; pass < kResiduePasses; ++pass) {
        if (pass == 1) {
            coded_passes = 0;
            for (int c = 0; c < ch; ++c)
                if (!do_not_decode[c])
                    coded_passes |= passes_of_classes(residue, partition_classes(setup, c), partitions);
        }
        if (!(coded_passes >> pass & 1)) continue;
        for (uint32_t p = 0; p < partitions; p += static_cast<uint32_t>(classwords)) {
            if (pass == 0) {
                for (int c = 0; c < ch; ++c) {
                    if (do_not_decode[c]) continue;
                    if constexpr (!Dir::packing) {
                        if (residue.classifications >= kMaxResidueClasses)
                            report_event(ctx.events, CodecEvent::ResidueClassOverflow);
                    }
                    if (!code_class_word(d, ctx, residue, r4, static_cast<int32_t>(p), classwords,
                                         partition_classes(setup, c)))
                        return kResidueRefused;
                }
            }
            for (int i = 0; i < classwords && p + i < partitions; ++i) {
                const int32_t partition = static_cast<int32_t>(p) + i;
                for (int c = 0; c < ch; ++c) {
                    if (do_not_decode[c]) continue;
                    const int book_number = residue.books[partition_classes(setup, c)[partition]][pass];
                    if (book_number < 0) continue;
                    const Codebook& book = setup.codebooks[static_cast<size_t>(book_number)];
                    if (book.sparse && book.sorted_entries == 0) continue;
                    // No lookup table: packing cannot express it, unpacking ends the packet here.
                    if (book.lookup_type == 0) return Dir::packing ? refuse_residue<Dir>(ctx) : kResidueEnded;
                    const int32_t size = static_cast<int32_t>(residue.partition_size);
                    const int32_t offset = static_cast<int32_t>(residue.begin) + partition * size;
                    const int dims = book.dimensions;
                    ValueSite sites[kMaxVectorValues];
                    // Every vector of the partition has the same book, so the same models.
                    const VectorModels models = vector_models(ctx, r4, book.model_slot, pass);
                    const VectorBook vb = vector_book<Dir>(setup, book_number);
                    ResidueCoder<Dir> rc(d, ctx, setup.residue_state, book.model_slot);
                    if (type == 0) {
                        const int32_t step = size / dims;
                        for (int32_t k = 0; k < step; ++k) {
                            // Counted from the partition's absolute offset, so every partition that
                            // starts at or beyond one partition size codes no values at all.
                            int32_t count = size - offset - k;
                            if (count > dims) count = dims;
                            if (count < 0) count = 0;
                            for (int32_t j = 0; j < count; ++j)
                                sites[j] = {offset + j * step, 0, true};
                            const int result = code_vector(rc, ctx, vb, models, count, SiteList{sites});
                            if (result != kResidueDone) return result;
                        }
                    } else {
                        for (int32_t covered = 0; covered < size; covered += dims) {
                            const int32_t count = size - covered < dims ? size - covered : dims;
                            for (int32_t j = 0; j < count; ++j)
                                sites[j] = {offset + covered + j, 0, true};
                            const int result = code_vector(rc, ctx, vb, models, count, SiteList{sites});
                            if (result != kResidueDone) return result;
                        }
                    }
                }
            }
        }
    }
    return kResidueDone;
}

// The values of the type 2 vector that starts at channel q of position f: dims, fewer at the end of
// the interleaved residue (none past it); -1 when the vector cannot be coded.
int64_t type_2_vector_values(int64_t q, int64_t f, int64_t ch, int dims, int64_t total) {
    int64_t count = dims;
    if (q + f * ch + dims > total) count = total + q - f * ch;
    if (count > dims || count > kMaxVectorValues) return -1;
    return count < 0 ? 0 : count;
}

// The full vectors of a type 2 partition over two coded channels while they last, from channel
// FirstChannel of position f, for books of an even dimension: every one of them starts on that channel
// again. `covered` and `f` move past the vectors coded.
template <class Dir, int FirstChannel, int Dims>
[[gnu::always_inline]] inline int code_full_stereo_vectors(ResidueCoder<Dir>& rc, VorbisContext& ctx,
                                                           const VectorBook& vb, const VectorModels& models,
                                                           int64_t size, int64_t& covered, int64_t& f,
                                                           int64_t total) {
    static_assert(Dims % 2 == 0 && Dims <= kMaxVectorValues);
    // Counted before the loop instead of tested for each vector: the vectors left in the partition, those
    // that are full (they end inside the interleaved residue, type_2_vector_values), and those whose
    // last value stays below kMaxResiduePosition (the one after them is refused).
    const int64_t in_partition = covered < size ? (size - covered + Dims - 1) / Dims : 0;
    const int64_t room = total - FirstChannel - 2 * f - Dims;
    const int64_t full = room < 0 ? 0 : room / Dims + 1;
    const int64_t vectors = in_partition < full ? in_partition : full;
    const int64_t below_limit_room = kMaxResiduePosition - f - (FirstChannel + Dims - 1) / 2;
    const int64_t below_limit = below_limit_room <= 0 ? 0 : (below_limit_room + Dims / 2 - 1) / (Dims / 2);
    const int64_t coded = vectors < below_limit ? vectors : below_limit;
    for (int64_t k = 0; k < coded; ++k) {
        const int result = code_vector(rc, ctx, vb, models, std::integral_constant<int, Dims>{},
                                       FixedStereoSites<FirstChannel>{static_cast<int32_t>(f)});
        if (result != kResidueDone) {
            covered += k * Dims;
            return result;
        }
        f += Dims / 2;
    }
    covered += coded * Dims;
    if (coded < vectors) return refuse_residue<Dir>(ctx);
    return kResidueDone;
}

// The vectors of one type 2 partition over two coded channels, from channel q of position f: as in
// residue_type_2, with the sites computed as the values alternate (the last value's position is the
// largest). `dims` is the book's dimensions, an int or a std::integral_constant; full vectors have
// that many values.
template <class Dir, class Dims>
[[gnu::always_inline]] inline int code_stereo_partition(ResidueCoder<Dir>& rc, VorbisContext& ctx,
                                                        const VectorBook& vb, const VectorModels& models,
                                                        Dims dims, int64_t size, int64_t q, int64_t f,
                                                        int64_t total) {
    int64_t covered = 0;
    if constexpr (!std::is_integral_v<Dims>) {
        const int result =
            q == 0
                ? code_full_stereo_vectors<Dir, 0, Dims::value>(rc, ctx, vb, models, size, covered, f, total)
                : code_full_stereo_vectors<Dir, 1, Dims::value>(rc, ctx, vb, models, size, covered, f, total);
        if (result != kResidueDone) return result;
    }
    for (; covered < size; covered += dims) {
        const int64_t count = type_2_vector_values(q, f, 2, dims, total);
        if (count < 0) return refuse_residue<Dir>(ctx);
        if (count > 0 && f + (q + count - 1) / 2 >= kMaxResiduePosition) return refuse_residue<Dir>(ctx);
        const StereoSites sites{static_cast<int32_t>(f), static_cast<int>(q)};
        const int result = code_vector(rc, ctx, vb, models, static_cast<int>(count), sites);
        if (result != kResidueDone) return result;
        f += (q + count) / 2;
        q = (q + count) & 1;
    }
    return kResidueDone;
}

template <class Dir>
int residue_type_2(Dir& d, VorbisContext& ctx, const Residue& residue, int ch, int32_t n, int r,
                   const uint8_t* do_not_decode) {
    VorbisSetup& setup = *ctx.setup;
    const int r4 = r & 3;
    const int classwords = setup.codebooks[residue.classbook].dimensions;
    const uint32_t partitions = (residue.end - residue.begin) / residue.partition_size;
    const int64_t total = static_cast<int64_t>(ch) * n;
    const int64_t size = residue.partition_size;
    int32_t* classes = partition_classes(setup, 0);
    const bool stereo = ch == 2 && !do_not_decode[0] && !do_not_decode[1];
    if (classwords <= 0) return kResidueDone;
    uint32_t coded_passes = 1; // pass 0 reads the classes
    for (int pass = 0; pass < kResiduePasses; ++pass) {
        if (pass == 1) coded_passes = passes_of_classes(residue, classes, partitions);
        if (!(coded_passes >> pass & 1)) continue;
        for (uint32_t p = 0; p < partitions; p += static_cast<uint32_t>(classwords)) {
            if (pass == 0) {
                if constexpr (!Dir::packing) {
                    if (residue.classifications >= kMaxResidueClasses)
                        report_event(ctx.events, CodecEvent::ResidueClassOverflow, classwords);
                }
                if (!code_class_word(d, ctx, residue, r4, static_cast<int32_t>(p), classwords, classes))
                    return kResidueRefused;
            }
            for (int i = 0; i < classwords && p + i < partitions; ++i) {
                const int64_t partition = static_cast<int64_t>(p) + i;
                const int book_number = residue.books[classes[partition]][pass];
                if (book_number < 0) continue;
                const Codebook& book = setup.codebooks[static_cast<size_t>(book_number)];
                if (book.sparse && book.sorted_entries == 0) continue;
                if (book.lookup_type == 0) return Dir::packing ? refuse_residue<Dir>(ctx) : kResidueEnded;
                const int dims = book.dimensions;
                const int64_t start = residue.begin + partition * size;
                int64_t q = start % ch;
                int64_t f = start / ch;
                // Every vector of the partition has the same book, so the same models.
                const VectorModels models = vector_models(ctx, r4, book.model_slot, pass);
                const VectorBook vb = vector_book<Dir>(setup, book_number);
                ResidueCoder<Dir> rc(d, ctx, setup.residue_state, book.model_slot);
                if (stereo) {
                    // A loop of its own, because one loop for both measured slower (README,
                    // "Benchmark"); the books of two, four and eight dimensions, the common ones, each with
                    // their vectors unrolled.
                    int result = kResidueDone;
                    if (dims == 2)
                        result = code_stereo_partition(rc, ctx, vb, models, std::integral_constant<int, 2>{},
                                                       size, q, f, total);
                    else if (dims == 4)
                        result = code_stereo_partition(rc, ctx, vb, models, std::integral_constant<int, 4>{},
                                                       size, q, f, total);
                    else if (dims == 8)
                        result = code_stereo_partition(rc, ctx, vb, models, std::integral_constant<int, 8>{},
                                                       size, q, f, total);
                    else
                        result = code_stereo_partition(rc, ctx, vb, models, dims, size, q, f, total);
                    if (result != kResidueDone) return result;
                    continue;
                }
                for (int64_t covered = 0; covered < size; covered += dims) {
                    const int64_t count = type_2_vector_values(q, f, ch, dims, total);
                    if (count < 0) return refuse_residue<Dir>(ctx);
                    ValueSite sites[kMaxVectorValues];
                    for (int64_t j = 0; j < count; ++j) {
                        if (f >= kMaxResiduePosition) return refuse_residue<Dir>(ctx);
                        sites[j] = {static_cast<int32_t>(f), q < 3 ? static_cast<int>(q) : 3,
                                    !do_not_decode[q]};
                        if (++q == ch) {
                            q = 0;
                            ++f;
                        }
                    }
                    const int result =
                        code_vector(rc, ctx, vb, models, static_cast<int>(count), SiteList{sites});
                    if (result != kResidueDone) return result;
                }
            }
        }
    }
    return kResidueDone;
}

} // namespace

template <class Dir>
int32_t code_residue_value(Dir& d, VorbisContext& ctx, int r4, int slot, int pass, int32_t position, int lane,
                           int32_t known) {
    LocalBits<Dir> bits(d);
    ResidueLocals st(ctx.setup->residue_state, slot);
    const int32_t value = residue_value(bits, st, vector_models(ctx, r4, slot, pass), position, lane, known);
    bits.finish();
    st.store(ctx.setup->residue_state);
    return value;
}

template <class Dir>
int code_residue(Dir& d, VorbisContext& ctx, int ch, int32_t n, int r, const uint8_t* do_not_decode) {
    VorbisSetup& setup = *ctx.setup;
    const Residue& residue = setup.residues[static_cast<size_t>(r)];
    const int type = setup.residue_types[static_cast<size_t>(r)];
    if (type == 2) {
        bool any = false;
        for (int c = 0; c < ch; ++c)
            any = any || !do_not_decode[c];
        if (!any) return kResidueDone;
        if (ch == 1) {
            // Nothing is coded; whatever the original holds here comes back as the packet's tail bytes.
            if constexpr (!Dir::packing)
                report_event(ctx.events, CodecEvent::ResidueType2OneChannel, kResiduePasses);
            return kResidueDone;
        }
        return residue_type_2(d, ctx, residue, ch, n, r, do_not_decode);
    }
    return residue_types_0_1(d, ctx, residue, type, ch, r, do_not_decode);
}

template int32_t code_residue_value<Unpacking>(Unpacking&, VorbisContext&, int, int, int, int32_t, int,
                                               int32_t);
template int32_t code_residue_value<Packing>(Packing&, VorbisContext&, int, int, int, int32_t, int, int32_t);
template int code_residue<Unpacking>(Unpacking&, VorbisContext&, int, int32_t, int, const uint8_t*);
template int code_residue<Packing>(Packing&, VorbisContext&, int, int32_t, int, const uint8_t*);
