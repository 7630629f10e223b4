#include "ogg/page_layer.h"
#include "ogg/page_header_model.h"

#include "coder/value_code.h"
#include "ogg/bit_io.h"
#include "ogg/ogg_crc.h"
#include "ogg/page_store.h"

#include <cstring>

namespace {

template <class Dir> bool start_page(StreamContext& ctx, int expected_type) {
    flush_page<Dir>(ctx);
    if (ctx.mode == CodingMode::Replay) {
        for (uint8_t c : kOggCaptureBytes)
            if (next_replay_byte(ctx) != c) return false;
        return parse_page_header(ctx);
    }
    if constexpr (Dir::packing) {
        if (ctx.original_page_next >= ctx.original_page_count) return fail_stream<Dir>(ctx);
        if (ctx.page_progress.page_taken)
            ctx.page_progress.page_taken(ctx.page_progress.context, ctx.original_page_next);
        const OggPage& page = ctx.original_pages[ctx.original_page_next++];
        ctx.page_start = const_cast<uint8_t*>(page.data);
        ctx.original_page_end = page.data + page.size;
        ctx.out_cursor = ctx.page_start + kOggVersion;
        // The unpacker always writes a correct CRC.
        if (read_le32(page.data + kOggCrc) != ogg_page_crc(page.data, page.size))
            return fail_stream<Dir>(ctx);
        Packing d{ctx.page_encoder};
        return code_page_header(d, ctx, expected_type);
    } else {
        std::memcpy(ctx.out_cursor, kOggCaptureBytes, 4);
        ctx.out_cursor += kOggVersion;
        Unpacking d{&ctx.page_decoder};
        return code_page_header(d, ctx, expected_type);
    }
}

} // namespace

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

template <class Dir> void flush_page(StreamContext& ctx) {
    if (ctx.mode == CodingMode::Replay || ctx.page_start == nullptr) {
        ctx.out_cursor = ctx.page_start;
        return;
    }
    const auto len = static_cast<size_t>(ctx.out_cursor - ctx.page_start);
    if (len > 0) {
        uint8_t* const page = ctx.page_start;
        if (Dir::packing && page + len != ctx.original_page_end)
            fail_stream<Dir>(ctx); // the unpacker would write a page of another size
        const size_t stored = Dir::packing ? static_cast<size_t>(ctx.original_page_end - page) : len;
        PageStore* targets[2] = {ctx.capture_headers ? ctx.header_store : nullptr,
                                 ctx.remember_stream ? ctx.stream_store : nullptr};
        for (PageStore* store : targets) {
            if (!store || !store_append(*store, page, stored)) continue;
            if (Dir::packing && stored >= kOggCrc + 4) // the stored copy carries a zero CRC field
                std::memset(store->data_end - stored + kOggCrc, 0, 4);
        }
        if constexpr (!Dir::packing) {
            write_le32(page + kOggCrc, ogg_page_crc(page, len));
            sink_write(ctx.output, page, len);
        }
    }
    ctx.out_cursor = ctx.page_start;
}

template <class Dir> bool open_page(StreamContext& ctx, int expected_type) {
    return start_page<Dir>(ctx, expected_type);
}

template <class Dir> int next_lacing(StreamContext& ctx) {
    if (ctx.packet_done) return 0;
    if (ctx.segment_index == -1) {
        if (!start_page<Dir>(ctx, kOggContinued) || ctx.segment_index == -1 ||
            !(ctx.header_type & kOggContinued)) {
            // No continuation page: the packet ends here. Also ending it when the new page does not
            // continue it keeps the next call from taking that page's lacing values as this packet's.
            ctx.packet_done = 1;
            return 0;
        }
        if (ctx.mode == CodingMode::Rebuild) {
            ctx.packet_remaining =
                ctx.packet_index < ctx.packet_count ? ctx.packet_lengths[ctx.packet_index] : 0;
            ++ctx.packet_index;
            ctx.packet_ends_here = ctx.packet_index < ctx.packet_count ? 1 : ctx.last_packet_complete;
        }
    }
    const int v = ctx.lacing[ctx.segment_index];
    ++ctx.segment_index;
    if (ctx.segment_index >= ctx.segment_count) ctx.segment_index = -1;
    if (v < kLacingContinues) ctx.packet_done = 1;
    ctx.segment_remaining = v;
    return v;
}

template <class Dir> bool begin_packet(StreamContext& ctx) {
    // Pages without lacing values are passed over, but never the stream's last page, and not without
    // end: a damaged archive could describe empty pages for ever.
    for (int empty = 0; ctx.segment_index == -1; ++empty) {
        if ((ctx.header_type & kOggLastPage) || empty > kMaxLacing) return false;
        if (!start_page<Dir>(ctx, 0) || (ctx.header_type & kOggContinued)) return false;
    }
    ctx.packet_done = 0;
    ctx.segment_remaining = 0;
    if (ctx.mode == CodingMode::Replay) {
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

template <class Dir> bool start_audio_packet(StreamContext& ctx) {
    if (ctx.input_ended) return false;
    for (int empty = 0; ctx.segment_index == -1; ++empty) {
        flush_page<Dir>(ctx);
        if (ctx.capture_headers) {
            store_add_record(*ctx.header_store, ctx.capture_offset,
                             store_size(*ctx.header_store) - ctx.capture_offset);
            ctx.capture_headers = 0;
        }
        ctx.mode = CodingMode::Rebuild;
        if (ctx.header_type & kOggLastPage) {
            ctx.stream_ended = 1;
            return false;
        }
        // A page without lacing values is flushed like any other on the next pass.
        if (empty > kMaxLacing || !start_page<Dir>(ctx, 0) || (ctx.header_type & kOggContinued)) return false;
    }
    if (!begin_packet<Dir>(ctx)) return false;
    if constexpr (!Dir::packing) *ctx.out_cursor = 0;
    return true;
}

template void flush_page<Unpacking>(StreamContext&);
template void flush_page<Packing>(StreamContext&);
template bool open_page<Unpacking>(StreamContext&, int);
template bool open_page<Packing>(StreamContext&, int);
template int next_lacing<Unpacking>(StreamContext&);
template int next_lacing<Packing>(StreamContext&);
template bool begin_packet<Unpacking>(StreamContext&);
template bool begin_packet<Packing>(StreamContext&);
template bool start_audio_packet<Unpacking>(StreamContext&);
template bool start_audio_packet<Packing>(StreamContext&);

bool skip_original_pages(StreamContext& ctx, int32_t n) {
    if (n < 0 || ctx.original_page_next + n > ctx.original_page_count) return fail_stream<Packing>(ctx);
    ctx.original_page_next += n;
    return true;
}

uint32_t restamp_page(uint8_t* page, uint32_t serial) {
    write_le32(page + kOggSerial, serial);
    write_le32(page + kOggCrc, 0);
    const uint32_t size = ogg_declared_page_size(page);
    write_le32(page + kOggCrc, ogg_page_crc(page, size));
    return size;
}

bool restamp_record(uint8_t* bytes, int32_t length, uint32_t serial) {
    for (int32_t pos = 0; pos < length;) {
        const uint32_t size = ogg_page_size(bytes + pos, static_cast<size_t>(length - pos));
        if (size == 0) return false;
        restamp_page(bytes + pos, serial);
        pos += static_cast<int32_t>(size);
    }
    return true;
}
