#include "page_walk.h"

#include "ogg/bit_io.h"
#include "ogg/ogg_crc.h"
#include "ogg/page_layer.h"

#include <algorithm>
#include <cstring>

size_t split_ogg_pages(const uint8_t* data, size_t size, std::vector<OggPage>& pages) {
    size_t pos = 0;
    while (pos < size) {
        const uint32_t page = ogg_page_size(data + pos, size - pos);
        if (page == 0) break;
        pages.push_back(OggPage{data + pos, page});
        pos += page;
    }
    return pos;
}

std::vector<std::vector<OggPage>> group_pages_by_serial(const std::vector<OggPage>& pages) {
    std::vector<std::vector<OggPage>> streams;
    std::vector<uint32_t> serials;
    for (const OggPage& page : pages) {
        const uint32_t serial = read_le32(page.data + kOggSerial);
        size_t i = 0;
        while (i < serials.size() && serials[i] != serial)
            ++i;
        if (i == serials.size()) {
            serials.push_back(serial);
            streams.emplace_back();
        }
        streams[i].push_back(page);
    }
    return streams;
}

std::vector<uint8_t> concat_payloads(const std::vector<OggPage>& pages) {
    std::vector<uint8_t> out;
    for (const OggPage& page : pages) {
        const uint32_t header = kOggHeaderSize + page.data[kOggSegmentCount];
        out.insert(out.end(), page.data + header, page.data + page.size);
    }
    return out;
}

namespace {

// One packet: the first byte is in place before the packet's first lacing value is taken; every later
// byte is entered through the bit I/O's move, a segment's bytes after its first one in one step. A byte
// entered past the packet (a one-byte packet's second byte) is not part of the output and takes no
// payload byte.
template <class Dir>
void move_packet(StreamContext& ctx, const uint8_t* payload, size_t payload_size, size_t& pos) {
    auto take = [&]() -> uint8_t { return pos < payload_size ? payload[pos++] : 0; };
    if constexpr (!Dir::packing) *ctx.out_cursor = ctx.packet_first_byte ? take() : 0;
    while (enter_next_byte<Dir>(ctx)) {
        if (ctx.out_cursor >= ctx.segment_end) {
            if constexpr (!Dir::packing) *ctx.out_cursor = 0;
            continue;
        }
        // The entered byte and the rest of its segment.
        const auto n = static_cast<size_t>(ctx.segment_end - ctx.out_cursor);
        if constexpr (!Dir::packing) {
            const size_t avail = pos < payload_size ? std::min(n, payload_size - pos) : 0;
            std::memcpy(ctx.out_cursor, payload + pos, avail);
            std::memset(ctx.out_cursor + avail, 0, n - avail);
            pos += avail;
        }
        ctx.out_cursor += n - 1;
        ctx.segment_remaining -= static_cast<int32_t>(n - 1);
        ctx.packet_remaining -= static_cast<int32_t>(n - 1);
    }
    ctx.bit_pos = 0;
}

} // namespace

template <class Dir> bool walk_stream_pages(StreamContext& ctx, const uint8_t* payload, size_t payload_size) {
    size_t pos = 0;
    if (!open_page<Dir>(ctx, kOggFirstPage) || !begin_packet<Dir>(ctx)) return false;
    move_packet<Dir>(ctx, payload, payload_size, pos);
    while (start_audio_packet<Dir>(ctx))
        move_packet<Dir>(ctx, payload, payload_size, pos);
    return stream_complete(ctx);
}

template bool walk_stream_pages<Unpacking>(StreamContext&, const uint8_t*, size_t);
template bool walk_stream_pages<Packing>(StreamContext&, const uint8_t*, size_t);
