#pragma once

// Shared by the page-layer tests: hand-built Ogg pages, and one logical stream moved through the page
// layer in both directions.

#include "ogg/ogg_crc.h"
#include "ogg/ogg_page.h"
#include "ogg/page_layer.h"
#include "ogg/page_store.h"
#include "page_walk.h"

#include <cstring>
#include <memory>
#include <random>
#include <vector>

// The header fields and lacing table of one hand-built page; its payload is random bytes.
struct PageLayout {
    uint8_t type = 0;
    uint64_t granule = 0;
    uint32_t serial = 0x1234;
    uint32_t sequence = 0;
    std::vector<uint8_t> lacing;
};

inline std::vector<uint8_t> build_page(const PageLayout& layout, std::mt19937& rng) {
    std::vector<uint8_t> page(27 + layout.lacing.size(), 0);
    std::memcpy(page.data(), "OggS", 4);
    page[5] = layout.type;
    write_le32(&page[6], static_cast<uint32_t>(layout.granule));
    write_le32(&page[10], static_cast<uint32_t>(layout.granule >> 32));
    write_le32(&page[14], layout.serial);
    write_le32(&page[18], layout.sequence);
    page[26] = static_cast<uint8_t>(layout.lacing.size());
    if (!layout.lacing.empty()) std::memcpy(&page[27], layout.lacing.data(), layout.lacing.size());
    for (uint8_t v : layout.lacing)
        for (int i = 0; i < v; ++i)
            page.push_back(static_cast<uint8_t>(rng()));
    write_le32(&page[22], ogg_page_crc(page.data(), page.size()));
    return page;
}

inline std::vector<uint8_t> build_stream(const std::vector<PageLayout>& layouts, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    for (const PageLayout& layout : layouts) {
        const std::vector<uint8_t> page = build_page(layout, rng);
        out.insert(out.end(), page.begin(), page.end());
    }
    return out;
}

// Three pages of 4,000, 4,000 and 1,200 bytes, as a store holds them (CRC field zero).
inline std::vector<uint8_t> three_stored_pages() {
    std::vector<uint8_t> lacing1(15, 255), lacing3(4, 255);
    lacing1.push_back(4000 - 27 - 16 - 15 * 255);
    lacing3.push_back(1200 - 27 - 5 - 4 * 255);
    auto bytes = build_stream({{2, 0, 1, 0, lacing1}, {0, 0, 1, 1, lacing1}, {4, 0, 1, 2, lacing3}}, 8);
    for (size_t page : {size_t{0}, size_t{4000}, size_t{8000}})
        std::memset(&bytes[page + 22], 0, 4);
    return bytes;
}

// The long-lived state of both directions: models, probabilities and stores.
struct PageRig {
    std::unique_ptr<ModelArea> models = std::make_unique<ModelArea>();
    std::vector<uint16_t> probs = std::vector<uint16_t>(9000, kProbInit);
    PageStore header_store, stream_store;
    StreamContext ctx;

    PageRig() {
        reset_models(*models, kModelAreaRecords);
        store_create(header_store, kHeaderStoreBytes, kStoreRecords);
        store_create(stream_store, kStreamStoreBytes, kStoreRecords);
        StreamLinks links;
        links.models = models.get();
        links.packet_probs = probs.data();
        links.header_store = &header_store;
        links.stream_store = &stream_store;
        init_stream_context(ctx, links);
    }
    ~PageRig() {
        store_release(header_store);
        store_release(stream_store);
    }
    PageRig(const PageRig&) = delete;
    PageRig& operator=(const PageRig&) = delete;
};

struct PackedStream {
    std::vector<uint8_t> archive; // the page sub-stream
    bool complete = false;
    bool inexpressible = false;
    int32_t pages_left = 0;
};

inline PackedStream pack_pages(PageRig& rig, const std::vector<OggPage>& pages, bool remember = false) {
    PackedStream out;
    RangeEncoder enc;
    set_original_pages(rig.ctx, pages.data(), static_cast<int32_t>(pages.size()), &enc);
    rig.ctx.remember_stream = remember ? 1 : 0;
    out.complete = walk_stream_pages<Packing>(rig.ctx, nullptr, 0);
    out.inexpressible = rig.ctx.inexpressible;
    out.pages_left = rig.ctx.original_page_count - rig.ctx.original_page_next;
    flush_encoder(enc);
    out.archive = enc.out;
    return out;
}

inline std::vector<uint8_t> unpack_pages(PageRig& rig, const std::vector<uint8_t>& archive,
                                         const std::vector<uint8_t>& payload, bool remember = false,
                                         bool* complete = nullptr) {
    std::vector<uint8_t> output;
    rig.ctx.output = vector_sink(output);
    open_page_buffer(rig.ctx);
    init_decoder(rig.ctx.page_decoder, archive.data(), static_cast<int32_t>(archive.size()));
    rig.ctx.remember_stream = remember ? 1 : 0;
    const bool done = walk_stream_pages<Unpacking>(rig.ctx, payload.data(), payload.size());
    if (complete) *complete = done;
    return output;
}

// Packs the stream held in `bytes` (one logical stream) and restores it with fresh state.
inline std::vector<uint8_t> page_round_trip(const std::vector<uint8_t>& bytes,
                                            PackedStream* packed_out = nullptr) {
    std::vector<OggPage> pages;
    split_ogg_pages(bytes.data(), bytes.size(), pages);
    PageRig packer;
    PackedStream packed = pack_pages(packer, pages);
    PageRig unpacker;
    std::vector<uint8_t> out = unpack_pages(unpacker, packed.archive, concat_payloads(pages));
    if (packed_out) *packed_out = packed;
    return out;
}
