#pragma once

// The page header models of the page layer, as one template over the direction (see page_layer.h for
// the records). Included by the page layer; tests instantiate it with their own direction types.

#include "coder/bit_direction.h"
#include "coder/value_code.h"
#include "ogg/ogg_page.h"
#include "ogg/page_layer.h"
#include "ogg/stream_context.h"

#include <cstring>

namespace page_header_detail {

using ShapeHeaderType = ValueShape<3, 1, false>;
using ShapeGranuleLow = ValueShape<5, 3, true, 2>;
using ShapeGranuleHigh = ValueShape<5, 0, true, 1>;
using ShapeSerial = ShapeSerialNumber;
using ShapeSequence = ValueShape<5, 3, true, 2>;
using ShapePacketCount = ValueShape<3, 3, false>;
using ShapePacketLength = ValueShape<4, 5, false>;

// One piece of a packet on a page: its length and whether a lacing value below kLacingContinues ends it
// here.
struct LacingPieces {
    int count = 0;
    uint16_t length[kMaxLacing];
    bool last_terminated = true;
};

inline void split_lacing(const uint8_t* lacing, int s, LacingPieces& out) {
    out.count = 0;
    uint32_t run = 0;
    for (int i = 0; i < s; ++i) {
        run += lacing[i];
        if (lacing[i] < kLacingContinues) {
            out.length[out.count++] = static_cast<uint16_t>(run);
            run = 0;
        }
    }
    out.last_terminated = true;
    if (s > 0 && lacing[s - 1] == kLacingContinues) {
        out.length[out.count++] = static_cast<uint16_t>(run);
        out.last_terminated = false;
    }
}

// A 32-bit header word as a running value: coded as its difference from the model's last value, after
// taking off `bias`, the part predicted from elsewhere; the model then holds the word less the bias.
// All of it is modulo 2^32, like the fields themselves.
template <class Shape, class Dir>
void code_running_word(Dir& d, ValueModel& m, uint8_t* field, uint32_t bias) {
    const uint32_t known = Dir::packing ? read_le32(field) - bias - static_cast<uint32_t>(m.last_value) : 0u;
    const int32_t v = code_delta<Shape>(d, m, false, static_cast<int32_t>(known));
    m.last_value = static_cast<int32_t>(static_cast<uint32_t>(m.last_value) + static_cast<uint32_t>(v));
    if constexpr (!Dir::packing) write_le32(field, static_cast<uint32_t>(m.last_value) + bias);
}

// Sets the page state after the lacing table is known; out_cursor on the first payload byte.
inline void enter_payload(StreamContext& ctx, uint8_t* payload) {
    ctx.last_packet_complete =
        ctx.segment_count > 0 ? (ctx.lacing[ctx.segment_count - 1] < kLacingContinues) : 1;
    ctx.out_cursor = payload;
    ctx.segment_end = payload;
    // A page without lacing values is used up at once (no lacing value may be read from it).
    ctx.segment_index = ctx.segment_count > 0 ? 0 : -1;
}

} // namespace page_header_detail

template <class Dir> bool code_page_header(Dir& d, StreamContext& ctx, int expected_type) {
    using namespace page_header_detail;
    constexpr bool packing = Dir::packing;
    ModelArea& models = *ctx.models;
    uint8_t* const page = ctx.out_cursor - kOggVersion; // the capture pattern is in place

    if constexpr (packing) {
        if (page[kOggVersion] != 0) return fail_stream<Dir>(ctx);
    } else {
        page[kOggVersion] = 0;
    }

    // Header type, as a difference from the expected one.
    {
        const uint32_t known = packing ? static_cast<uint32_t>(page[kOggHeaderType] ^ expected_type) : 0u;
        const auto v = static_cast<uint32_t>(
            code_delta<ShapeHeaderType>(d, models[kModelHeaderType], false, static_cast<int32_t>(known)));
        if constexpr (!packing)
            page[kOggHeaderType] = static_cast<uint8_t>(v ^ static_cast<uint32_t>(expected_type));
        ctx.header_type = page[kOggHeaderType];
    }
    // Granule position, low and high words, serial number: running values. The low word's running
    // value is what is left after the estimate from the packets' block sizes.
    code_running_word<ShapeGranuleLow>(d, models[kModelGranuleLow], page + kOggGranuleLow,
                                       static_cast<uint32_t>(ctx.granule_estimate));
    code_running_word<ShapeGranuleHigh>(d, models[kModelGranuleHigh], page + kOggGranuleHigh, 0);
    code_running_word<ShapeSerial>(d, models[kModelSerial], page + kOggSerial, 0);
    // Page sequence number: the running delta holds the usual step of 1.
    {
        ValueModel& m = models[kModelSequence];
        const uint32_t known = packing
                                   ? read_le32(page + kOggSequence) - static_cast<uint32_t>(m.last_value) -
                                         static_cast<uint32_t>(m.last_delta)
                                   : 0u;
        const int32_t v = code_delta<ShapeSequence>(d, m, false, static_cast<int32_t>(known));
        m.last_delta = static_cast<int32_t>(static_cast<uint32_t>(m.last_delta) + static_cast<uint32_t>(v));
        m.last_value =
            static_cast<int32_t>(static_cast<uint32_t>(m.last_value) + static_cast<uint32_t>(m.last_delta));
        if constexpr (!packing) write_le32(page + kOggSequence, static_cast<uint32_t>(m.last_value));
    }
    if constexpr (!packing) std::memset(page + kOggCrc, 0, 4);
    ctx.packet_index = 0;

    // Packet lengths, and the lacing table they imply.
    LacingPieces pieces;
    if constexpr (packing) split_lacing(page + kOggHeaderSize, page[kOggSegmentCount], pieces);
    const auto n = static_cast<uint32_t>(
        code_delta<ShapePacketCount>(d, models[kModelPacketCount], true, static_cast<int32_t>(pieces.count)));
    ctx.packet_count = static_cast<uint8_t>(n);
    int s = 0;
    for (uint32_t j = 0; j < n; ++j) {
        const auto length = static_cast<uint32_t>(code_delta<ShapePacketLength>(
            d, models[kModelPacketLength], true, packing ? pieces.length[j] : 0));
        ctx.packet_lengths[j] = static_cast<uint16_t>(length);
        const uint32_t full = length / kLacingContinues;
        const uint32_t rest = length - kLacingContinues * full;
        bool terminate = rest != 0 || j + 1 < n;
        if (!terminate)
            terminate = d.bit(ctx.packet_probs[kTerminatingZeroProb], packing && pieces.last_terminated) != 0;
        if (static_cast<uint32_t>(s) + full + (terminate ? 1u : 0u) > kMaxLacing) {
            // Cannot come from a valid archive: a failed page start, nothing of the page is written.
            ctx.out_cursor = ctx.segment_end = ctx.page_start;
            return false;
        }
        std::memset(ctx.lacing + s, kLacingContinues, full);
        s += static_cast<int>(full);
        if (terminate) ctx.lacing[s++] = static_cast<uint8_t>(rest);
    }
    ctx.segment_count = s;
    if constexpr (!packing) {
        page[kOggSegmentCount] = static_cast<uint8_t>(s);
        std::memcpy(page + kOggHeaderSize, ctx.lacing, static_cast<size_t>(s));
    } else if (s != page[kOggSegmentCount] ||
               std::memcmp(ctx.lacing, page + kOggHeaderSize, static_cast<size_t>(s)) != 0) {
        return fail_stream<Dir>(ctx);
    }
    enter_payload(ctx, page + kOggHeaderSize + s);
    return true;
}
