#include "ogg/page_layer.h"

#include "coder/page_store.h"
#include "fields/value_code.h"
#include "ogg/bit_io.h"
#include "ogg/ogg_crc.h"

#include <cstring>

namespace {

using ShapeHeaderType = ValueShape<3, 1, false>;
using ShapeGranuleLow = ValueShape<5, 3, true, 2>;
using ShapeGranuleHigh = ValueShape<5, 0, true, 1>;
using ShapeSerial = ShapeSerialNumber;
using ShapeSequence = ValueShape<5, 3, true, 2>;
using ShapePacketCount = ValueShape<3, 3, false>;
using ShapePacketLength = ValueShape<4, 5, false>;

inline uint32_t wrap_add(uint32_t a, uint32_t b) {
    return a + b;
}

// One piece of a packet on a page: its length and whether a lacing value below 255 ends it here.
struct LacingPieces {
    int count = 0;
    uint16_t length[kMaxLacing];
    bool last_terminated = true;
};

void split_lacing(const uint8_t* lacing, int s, LacingPieces& out) {
    out.count = 0;
    uint32_t run = 0;
    for (int i = 0; i < s; ++i) {
        run += lacing[i];
        if (lacing[i] < 255) {
            out.length[out.count++] = static_cast<uint16_t>(run);
            run = 0;
        }
    }
    out.last_terminated = true;
    if (s > 0 && lacing[s - 1] == 255) {
        out.length[out.count++] = static_cast<uint16_t>(run);
        out.last_terminated = false;
    }
}

// Sets the page state after the lacing table is known; out_cursor on the first payload byte.
void enter_payload(StreamContext& ctx, uint8_t* payload) {
    ctx.last_packet_complete = ctx.segment_count > 0 ? (ctx.lacing[ctx.segment_count - 1] < 255) : 1;
    ctx.out_cursor = payload;
    ctx.segment_end = payload;
    // A page without lacing values is used up at once (no lacing value may be read from it).
    ctx.segment_index = ctx.segment_count > 0 ? 0 : -1;
}

bool start_page(StreamContext& ctx, int expected_type) {
    flush_page(ctx);
    if (ctx.mode != 0) {
        static const char kMagic[4] = {'O', 'g', 'g', 'S'};
        for (char c : kMagic)
            if (next_replay_byte(ctx) != static_cast<uint8_t>(c)) return false;
        return parse_page_header(ctx);
    }
    if (ctx.packing) {
        if (ctx.original_page_next >= ctx.original_page_count) return mark_inexpressible(ctx);
        const OggPageRef& page = ctx.original_pages[ctx.original_page_next++];
        ctx.page_start = const_cast<uint8_t*>(page.data);
        ctx.original_page_end = page.data + page.size;
        ctx.out_cursor = ctx.page_start + 4;
        // The unpacker always writes a correct CRC.
        if (read_le32(page.data + 22) != ogg_page_crc(page.data, page.size)) return mark_inexpressible(ctx);
        Packing d{ctx.page_encoder};
        return code_page_header(d, ctx, expected_type);
    }
    std::memcpy(ctx.out_cursor, "OggS", 4);
    ctx.out_cursor += 4;
    return decode_page_header(ctx, expected_type);
}

} // namespace

template <class Dir> bool code_page_header(Dir& d, StreamContext& ctx, int expected_type) {
    constexpr bool packing = Dir::packing;
    ModelArea& models = *ctx.models;
    uint8_t* const h = ctx.out_cursor; // offset 4 of the page
    uint8_t* const page = h - 4;

    if constexpr (packing) {
        if (h[0] != 0) return mark_inexpressible(ctx);
    } else {
        h[0] = 0;
    }

    // Header type, as a difference from the expected one.
    {
        const uint32_t known = packing ? static_cast<uint32_t>(h[1] ^ expected_type) : 0u;
        const auto v = static_cast<uint32_t>(
            code_delta<ShapeHeaderType>(d, models[kModelHeaderType], false, static_cast<int32_t>(known)));
        if constexpr (!packing) h[1] = static_cast<uint8_t>(v ^ static_cast<uint32_t>(expected_type));
        ctx.header_type = h[1];
    }
    // Granule position, low and high words, serial number: running values.
    {
        ValueModel& m = models[kModelGranuleLow];
        const uint32_t estimate = static_cast<uint32_t>(ctx.granule_estimate);
        const uint32_t known =
            packing ? read_le32(h + 2) - estimate - static_cast<uint32_t>(m.last_value) : 0u;
        const int32_t v = code_delta<ShapeGranuleLow>(d, m, false, static_cast<int32_t>(known));
        m.last_value =
            static_cast<int32_t>(wrap_add(static_cast<uint32_t>(m.last_value), static_cast<uint32_t>(v)));
        if constexpr (!packing) write_le32(h + 2, static_cast<uint32_t>(m.last_value) + estimate);
    }
    {
        ValueModel& m = models[kModelGranuleHigh];
        const uint32_t known = packing ? read_le32(h + 6) - static_cast<uint32_t>(m.last_value) : 0u;
        const int32_t v = code_delta<ShapeGranuleHigh>(d, m, false, static_cast<int32_t>(known));
        m.last_value =
            static_cast<int32_t>(wrap_add(static_cast<uint32_t>(m.last_value), static_cast<uint32_t>(v)));
        if constexpr (!packing) write_le32(h + 6, static_cast<uint32_t>(m.last_value));
    }
    {
        ValueModel& m = models[kModelSerial];
        const uint32_t known = packing ? read_le32(h + 10) - static_cast<uint32_t>(m.last_value) : 0u;
        const int32_t v = code_delta<ShapeSerial>(d, m, false, static_cast<int32_t>(known));
        m.last_value =
            static_cast<int32_t>(wrap_add(static_cast<uint32_t>(m.last_value), static_cast<uint32_t>(v)));
        if constexpr (!packing) write_le32(h + 10, static_cast<uint32_t>(m.last_value));
    }
    // Page sequence number: the running delta holds the usual step of 1.
    {
        ValueModel& m = models[kModelSequence];
        const uint32_t known = packing ? read_le32(h + 14) - static_cast<uint32_t>(m.last_value) -
                                             static_cast<uint32_t>(m.last_delta)
                                       : 0u;
        const int32_t v = code_delta<ShapeSequence>(d, m, false, static_cast<int32_t>(known));
        m.last_delta =
            static_cast<int32_t>(wrap_add(static_cast<uint32_t>(m.last_delta), static_cast<uint32_t>(v)));
        m.last_value = static_cast<int32_t>(
            wrap_add(static_cast<uint32_t>(m.last_value), static_cast<uint32_t>(m.last_delta)));
        if constexpr (!packing) write_le32(h + 14, static_cast<uint32_t>(m.last_value));
    }
    if constexpr (!packing) std::memset(h + 18, 0, 4);
    ctx.packet_index = 0;

    // Packet lengths, and the lacing table they imply.
    LacingPieces pieces;
    if constexpr (packing) split_lacing(h + 23, h[22], pieces);
    const auto n = static_cast<uint32_t>(
        code_delta<ShapePacketCount>(d, models[kModelPacketCount], true, static_cast<int32_t>(pieces.count)));
    ctx.packet_count = static_cast<uint8_t>(n);
    int s = 0;
    for (uint32_t j = 0; j < n; ++j) {
        const auto length = static_cast<uint32_t>(code_delta<ShapePacketLength>(
            d, models[kModelPacketLength], true, packing ? pieces.length[j] : 0));
        ctx.packet_lengths[j] = static_cast<uint16_t>(length);
        const uint32_t full = length / 255;
        const uint32_t rest = length - 255 * full;
        bool terminate = rest != 0 || j + 1 < n;
        if (!terminate)
            terminate = d.bit(ctx.packet_probs[kProbTerminatingZero], packing && pieces.last_terminated) != 0;
        if (static_cast<uint32_t>(s) + full + (terminate ? 1u : 0u) > kMaxLacing) {
            // Cannot come from a valid archive: a failed page start, nothing of the page is written.
            ctx.out_cursor = ctx.segment_end = ctx.page_start;
            return false;
        }
        std::memset(ctx.lacing + s, 255, full);
        s += static_cast<int>(full);
        if (terminate) ctx.lacing[s++] = static_cast<uint8_t>(rest);
    }
    ctx.segment_count = s;
    if constexpr (!packing) {
        h[22] = static_cast<uint8_t>(s);
        std::memcpy(h + 23, ctx.lacing, static_cast<size_t>(s));
    } else if (s != h[22] || std::memcmp(ctx.lacing, h + 23, static_cast<size_t>(s)) != 0) {
        return mark_inexpressible(ctx);
    }
    enter_payload(ctx, page + 27 + s);
    return true;
}

template bool code_page_header<Unpacking>(Unpacking&, StreamContext&, int);
template bool code_page_header<Packing>(Packing&, StreamContext&, int);

bool decode_page_header(StreamContext& ctx, int expected_type) {
    Unpacking d{&ctx.page_decoder};
    return code_page_header(d, ctx, expected_type);
}

bool parse_page_header(StreamContext& ctx) {
    if (next_replay_byte(ctx) != 0) return false;
    ctx.header_type = next_replay_byte(ctx);
    for (int i = 0; i < 20; ++i) // granule, serial number, sequence number, CRC
        next_replay_byte(ctx);
    ctx.packet_index = 0;
    const int s = next_replay_byte(ctx);
    ctx.segment_count = s;
    if (ctx.replay_end - ctx.replay_cursor < s) {
        ctx.input_ended = 1;
        return false;
    }
    std::memcpy(ctx.lacing, ctx.replay_cursor, static_cast<size_t>(s));
    ctx.replay_cursor += s;
    ctx.segment_index = s > 0 ? 0 : -1;
    return true;
}

void flush_page(StreamContext& ctx) {
    if (ctx.mode != 0 || ctx.page_start == nullptr) {
        ctx.out_cursor = ctx.page_start;
        return;
    }
    const auto len = static_cast<size_t>(ctx.out_cursor - ctx.page_start);
    if (len > 0) {
        uint8_t* const page = ctx.page_start;
        if (ctx.packing && page + len != ctx.original_page_end)
            mark_inexpressible(ctx); // the unpacker would write a page of another size
        const size_t stored = ctx.packing ? static_cast<size_t>(ctx.original_page_end - page) : len;
        PageStore* targets[2] = {ctx.capture_headers ? ctx.header_store : nullptr,
                                 ctx.remember_stream ? ctx.stream_store : nullptr};
        for (PageStore* store : targets) {
            if (!store || !store_append(*store, page, stored)) continue;
            if (ctx.packing && stored >= 26) // the stored copy carries a zero CRC field
                std::memset(store->data_end - stored + 22, 0, 4);
        }
        if (!ctx.packing) {
            write_le32(page + 22, ogg_page_crc(page, len));
            sink_write(ctx.output, page, len);
        }
    }
    ctx.out_cursor = ctx.page_start;
}

bool open_page(StreamContext& ctx, int expected_type) {
    return start_page(ctx, expected_type);
}

int next_lacing(StreamContext& ctx) {
    if (ctx.packet_done) return 0;
    if (ctx.segment_index == -1) {
        if (!start_page(ctx, 1) || ctx.segment_index == -1 || !(ctx.header_type & 1)) {
            // No continuation page: the packet ends here. Also ending it when the new page does not
            // continue it keeps the next call from taking that page's lacing values as this packet's.
            ctx.packet_done = 1;
            return 0;
        }
        if (ctx.mode == 0) {
            ctx.packet_remaining =
                ctx.packet_index < ctx.packet_count ? ctx.packet_lengths[ctx.packet_index] : 0;
            ++ctx.packet_index;
            ctx.packet_ends_here = ctx.packet_index < ctx.packet_count ? 1 : ctx.last_packet_complete;
        }
    }
    const int v = ctx.lacing[ctx.segment_index];
    ++ctx.segment_index;
    if (ctx.segment_index >= ctx.segment_count) ctx.segment_index = -1;
    if (v < 255) ctx.packet_done = 1;
    ctx.segment_remaining = v;
    return v;
}

bool begin_packet(StreamContext& ctx) {
    while (ctx.segment_index == -1) {
        if (!start_page(ctx, 0) || (ctx.header_type & 1)) return false;
    }
    ctx.packet_done = 0;
    ctx.segment_remaining = 0;
    if (ctx.mode != 0) {
        ctx.bit_count = 0;
        return true;
    }
    ctx.bit_pos = 0;
    const int length = ctx.packet_index < ctx.packet_count ? ctx.packet_lengths[ctx.packet_index] : 0;
    ctx.packet_remaining = length - 1;
    ++ctx.packet_index;
    ctx.packet_ends_here = ctx.packet_index < ctx.packet_count ? 1 : ctx.last_packet_complete;
    ctx.segment_end = ctx.out_cursor;
    // The first byte is written before the packet's first lacing value is taken; packing reads it only
    // if the packet has one.
    ctx.packet_first_byte = ctx.lacing[ctx.segment_index] > 0 ? ctx.out_cursor : nullptr;
    return true;
}

bool start_audio_packet(StreamContext& ctx) {
    if (ctx.input_ended) return false;
    if (ctx.segment_index == -1) {
        flush_page(ctx);
        if (ctx.capture_headers) {
            store_add_record(*ctx.header_store, ctx.capture_offset,
                             store_size(*ctx.header_store) - ctx.capture_offset);
            ctx.capture_headers = 0;
        }
        ctx.mode = 0;
        if (ctx.header_type & 4) {
            ctx.stream_ended = 1;
            return false;
        }
        if (!start_page(ctx, 0) || (ctx.header_type & 1)) return false;
    }
    if (!begin_packet(ctx)) return false;
    if (!ctx.packing) *ctx.out_cursor = 0;
    return true;
}

bool skip_original_pages(StreamContext& ctx, int32_t n) {
    if (n < 0 || ctx.original_page_next + n > ctx.original_page_count) return mark_inexpressible(ctx);
    ctx.original_page_next += n;
    return true;
}

uint32_t restamp_page(uint8_t* page, uint32_t serial) {
    static const uint8_t kPrefix[5] = {'O', 'g', 'g', 'S', 0};
    write_le32(page + 14, serial);
    std::memset(page + 22, 0, 4);
    const uint32_t s = page[26];
    uint32_t size = 27 + s;
    for (uint32_t i = 0; i < s; ++i)
        size += page[27 + i];
    uint32_t crc = ogg_crc_update(0, kPrefix, 5);
    crc = ogg_crc_update(crc, page + 5, size - 5);
    write_le32(page + 22, crc);
    return size;
}
