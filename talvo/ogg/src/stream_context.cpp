#include "ogg/stream_context.h"

#include "coder/bit_direction.h"
#include "ogg/ogg_crc.h"
#include "ogg/page_layer.h"

#include <cstring>
#include <new>
#include <utility>

void init_stream_context(StreamContext& ctx, const StreamLinks& links) {
    std::vector<uint8_t> replay = std::move(ctx.replay_storage);
    ctx = StreamContext{};
    ctx.replay_storage = std::move(replay);
    ctx.control_decoder = links.control_decoder;
    ctx.control_probs = links.control_probs;
    ctx.models = links.models;
    ctx.packet_probs = links.packet_probs;
    ctx.header_store = links.header_store;
    ctx.stream_store = links.stream_store;
    ctx.output = links.output;
}

void open_page_buffer(StreamContext& ctx) {
    // Zero pages, not a cleared buffer: a stream of small pages touches only the first of them.
    ctx.page_storage = allocate_zeroed<uint8_t>(kPageBufferSpare + kPageBufferSize);
    if (!ctx.page_storage) throw std::bad_alloc();
    ctx.page_start = ctx.page_storage.get() + kPageBufferSpare;
    ctx.page_limit = ctx.page_start + kPageBufferSize;
    ctx.out_cursor = ctx.page_start;
    ctx.segment_end = ctx.page_start;
    ctx.bit_pos = 0;
}

bool set_original_pages(StreamContext& ctx, const OggPage* pages, int32_t count, RangeEncoder* page_encoder,
                        const PageProgress& progress) {
    ctx.page_encoder = page_encoder;
    ctx.page_progress = progress;
    ctx.original_pages = pages;
    ctx.original_page_count = count;
    ctx.original_page_next = 0;
    ctx.page_start = nullptr;
    ctx.out_cursor = nullptr;
    ctx.segment_end = nullptr;
    ctx.original_page_end = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        if (pages[i].size < kOggHeaderSize || ogg_page_size(pages[i].data, pages[i].size) != pages[i].size)
            return fail_stream<Packing>(ctx);
    }
    return true;
}

void load_replay(StreamContext& ctx, const uint8_t* bytes, int32_t n) {
    if (n < 0) n = 0;
    if (ctx.replay_storage.size() < static_cast<size_t>(n))
        ctx.replay_storage.resize((static_cast<size_t>(n) + 255) & ~static_cast<size_t>(255));
    if (n > 0) std::memcpy(ctx.replay_storage.data(), bytes, static_cast<size_t>(n));
    ctx.replay_cursor = ctx.replay_storage.data();
    ctx.replay_end = ctx.replay_cursor + n;
}
