#include "ogg/bit_io.h"
#include "ogg/page_header_model.h"
#include "page_rig.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> lacing_for(std::initializer_list<int> packet_lengths, bool last_continues = false) {
    std::vector<uint8_t> lacing;
    for (int len : packet_lengths) {
        for (; len >= 255; len -= 255)
            lacing.push_back(255);
        lacing.push_back(static_cast<uint8_t>(len));
    }
    if (last_continues && !lacing.empty() && lacing.back() == 0) lacing.pop_back();
    return lacing;
}

void expect_round_trip(const std::vector<uint8_t>& stream) {
    PackedStream packed;
    const std::vector<uint8_t> out = page_round_trip(stream, &packed);
    EXPECT_FALSE(packed.inexpressible);
    EXPECT_TRUE(packed.complete);
    EXPECT_EQ(packed.pages_left, 0);
    ASSERT_EQ(out.size(), stream.size());
    EXPECT_TRUE(out == stream);
}

TEST(PageLayerTest, PacketEndingOnPageAtMultipleOf255CodesTheTerminatingZero) {
    const auto stream = build_stream({{2, 0, 7, 0, lacing_for({510})}, {4, 960, 7, 1, lacing_for({20})}});
    std::vector<OggPage> pages;
    split_ogg_pages(stream.data(), stream.size(), pages);
    EXPECT_EQ(pages[0].size, 27u + 3u + 510u); // 255, 255, 0
    PageRig rig;
    const PackedStream packed = pack_pages(rig, pages);
    EXPECT_EQ(probability_of(rig.probs[kTerminatingZeroProb]), 0x7E00u) << "exactly one decision, a 1";
    EXPECT_TRUE(packed.complete);
    expect_round_trip(stream);
}

TEST(PageLayerTest, PacketContinuingOnNextPage) {
    // 255, 255 only; the next page has the continued flag and its own length for the remainder.
    const auto stream =
        build_stream({{2, 0, 7, 0, lacing_for({510}, true)}, {1 | 4, 500, 7, 1, lacing_for({45, 3})}});
    std::vector<OggPage> pages;
    split_ogg_pages(stream.data(), stream.size(), pages);
    EXPECT_EQ(pages[0].data[26], 2);
    PageRig rig;
    pack_pages(rig, pages);
    EXPECT_EQ(probability_of(rig.probs[kTerminatingZeroProb]), 0x81FFu) << "exactly one decision, a 0";
    EXPECT_EQ(rig.ctx.packet_count, 2);
    EXPECT_EQ(rig.ctx.packet_lengths[0], 45);
    EXPECT_EQ(rig.ctx.packet_lengths[1], 3);
    expect_round_trip(stream);
}

TEST(PageLayerTest, TwoPacketsOfOneHundredAndThreeHundred) {
    const auto stream = build_stream({{2, 0, 9, 0, lacing_for({100, 300})}, {4, 0, 9, 1, {}}});
    std::vector<OggPage> pages;
    split_ogg_pages(stream.data(), stream.size(), pages);
    ASSERT_EQ(pages[0].data[26], 3);
    EXPECT_EQ(pages[0].data[27], 100);
    EXPECT_EQ(pages[0].data[28], 255);
    EXPECT_EQ(pages[0].data[29], 45);
    PageRig rig;
    RangeEncoder enc;
    set_original_pages(rig.ctx, pages.data(), 2, &enc);
    ASSERT_TRUE(open_page<Packing>(rig.ctx, kOggFirstPage));
    EXPECT_EQ(rig.ctx.packet_count, 2);
    EXPECT_EQ(rig.ctx.packet_lengths[0], 100);
    EXPECT_EQ(rig.ctx.packet_lengths[1], 300);
    EXPECT_EQ(rig.probs[kTerminatingZeroProb], kProbInit)
        << "no decision when the last length is not a multiple of 255";
    expect_round_trip(stream); // the empty last page (no lacing values) included
}

// Records every decision of the packing direction.
struct SpyPacking {
    static constexpr bool packing = true;
    RangeEncoder* rc;
    std::vector<std::pair<const uint16_t*, int>>* log;
    int bit(uint16_t& p, int known) {
        log->push_back({&p, known});
        encode_bit(*rc, p, known);
        return known;
    }
    uint32_t tree(uint16_t* probs, int n, uint32_t known) {
        uint32_t node = 1;
        for (int i = n - 1; i >= 0; --i)
            node = 2 * node + static_cast<uint32_t>(bit(probs[node], static_cast<int>((known >> i) & 1)));
        return known;
    }
};

TEST(PageLayerTest, SteadySequenceAndSerialCostOnlyZeroFlags) {
    std::vector<PageLayout> layouts;
    for (uint32_t i = 0; i < 12; ++i)
        layouts.push_back({static_cast<uint8_t>(i == 0    ? 2
                                                : i == 11 ? 4
                                                          : 0),
                           1000ull * i, 0xCAFE, i, lacing_for({40})});
    const auto stream = build_stream(layouts);
    std::vector<OggPage> pages;
    split_ogg_pages(stream.data(), stream.size(), pages);
    PageRig rig;
    RangeEncoder enc;
    set_original_pages(rig.ctx, pages.data(), static_cast<int32_t>(pages.size()), &enc);
    std::vector<std::pair<const uint16_t*, int>> log;
    SpyPacking spy{&enc, &log};
    const ValueModel& seq = (*rig.models)[kModelSequence];
    const ValueModel& serial = (*rig.models)[kModelSerial];
    auto in = [](const ValueModel& m, const uint16_t* p) {
        return p >= m.probs && p < m.probs + kValueModelProbs;
    };
    for (size_t i = 0; i < pages.size(); ++i) {
        log.clear();
        rig.ctx.page_start = const_cast<uint8_t*>(pages[i].data);
        rig.ctx.original_page_end = pages[i].data + pages[i].size;
        rig.ctx.out_cursor = rig.ctx.page_start + 4;
        ASSERT_TRUE(code_page_header(spy, rig.ctx, i == 0 ? 2 : 0));
        int seq_decisions = 0, serial_decisions = 0, nonzero = 0;
        for (auto& [p, b] : log) {
            seq_decisions += in(seq, p);
            serial_decisions += in(serial, p);
            nonzero += (in(seq, p) || in(serial, p)) && b;
        }
        if (i >= 2) {
            EXPECT_EQ(seq_decisions, 1) << "page " << i;
            EXPECT_EQ(serial_decisions, 1) << "page " << i;
            EXPECT_EQ(nonzero, 0) << "page " << i;
        }
    }
    expect_round_trip(stream);
}

TEST(PageLayerTest, UnusualPagesRoundTrip) {
    // Header types beyond the expected ones, granule -1, a page with zero-length and one-byte packets,
    // a full page of 255 lacing values, sequence gaps, a changing serial number.
    std::vector<PageLayout> layouts = {
        {2, 0, 1, 0, lacing_for({30})},
        {0, ~0ull, 1, 1, lacing_for({0, 1, 0, 1, 1, 254, 255, 0})},
        {0, 5000, 1, 7, std::vector<uint8_t>(255, 255)},
        {1, 6000, 1, 8, std::vector<uint8_t>(254, 255)},
        {4, 0x123456789ull, 1, 9, lacing_for({77})},
    };
    layouts[3].lacing.push_back(3);
    expect_round_trip(build_stream(layouts, 3));
}

TEST(PageLayerTest, LastPageEndsStreamAfterItIsWritten) {
    const auto stream = build_stream({{2, 0, 3, 0, lacing_for({30})}, {4, 100, 3, 1, lacing_for({10, 12})}});
    PackedStream packed;
    const auto out = page_round_trip(stream, &packed);
    EXPECT_EQ(out, stream);
    EXPECT_TRUE(packed.complete);
}

TEST(PageLayerTest, OriginalWithBadCrcOrTrailingPagesIsInexpressible) {
    auto stream = build_stream({{2, 0, 3, 0, lacing_for({30})}, {4, 100, 3, 1, lacing_for({10})}});
    stream[30] ^= 1;
    std::vector<OggPage> pages;
    split_ogg_pages(stream.data(), stream.size(), pages);
    PageRig rig;
    EXPECT_TRUE(pack_pages(rig, pages).inexpressible);

    const auto longer = build_stream(
        {{2, 0, 3, 0, lacing_for({30})}, {4, 100, 3, 1, lacing_for({10})}, {0, 100, 3, 2, lacing_for({10})}});
    std::vector<OggPage> pages2;
    split_ogg_pages(longer.data(), longer.size(), pages2);
    PageRig rig2;
    const PackedStream packed = pack_pages(rig2, pages2);
    EXPECT_TRUE(packed.complete);
    EXPECT_EQ(packed.pages_left, 1) << "the packer sees pages after the last one";
}

TEST(PageLayerTest, LacingOverflowIsAFailedPageStart) {
    // Two packets of 65,025 bytes would need 512 lacing values.
    PageRig rig;
    RangeEncoder enc;
    Packing pk{&enc};
    ModelArea& m = *rig.models;
    code_delta<ValueShape<3, 1, false>>(pk, m[0], false, 0);
    for (int r = 1; r <= 4; ++r)
        code_delta<ValueShape<5, 3, true, 2>>(pk, m[r], false, 0);
    code_delta<ValueShape<3, 3, false>>(pk, m[5], true, 2);
    code_delta<ValueShape<4, 5, false>>(pk, m[6], true, 65025);
    code_delta<ValueShape<4, 5, false>>(pk, m[6], true, 65025);
    flush_encoder(enc);

    PageRig unpacker;
    std::vector<uint8_t> output;
    unpacker.ctx.output = vector_sink(output);
    open_page_buffer(unpacker.ctx);
    init_decoder(unpacker.ctx.page_decoder, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    EXPECT_FALSE(open_page<Unpacking>(unpacker.ctx, kOggFirstPage));
    EXPECT_EQ(unpacker.ctx.out_cursor, unpacker.ctx.page_start);
    flush_page<Unpacking>(unpacker.ctx);
    EXPECT_TRUE(output.empty()) << "a page that failed to start is not written";
}

TEST(PageLayerTest, RestampChangesOnlySerialAndCrc) {
    std::mt19937 rng(2);
    const auto page = build_page({0, 123456, 0x11111111, 42, lacing_for({300, 17})}, rng);
    auto stamped = page;
    EXPECT_EQ(restamp_page(stamped.data(), 0xA5A5A5A5), page.size());
    for (size_t i = 0; i < page.size(); ++i) {
        if (i < 14 || (i >= 18 && i < 22) || i >= 26) {
            ASSERT_EQ(stamped[i], page[i]) << i;
        }
    }
    EXPECT_EQ(read_le32(&stamped[14]), 0xA5A5A5A5u);
    EXPECT_EQ(read_le32(&stamped[22]), ogg_page_crc(stamped.data(), stamped.size()));
    EXPECT_EQ(restamp_page(stamped.data(), 0x11111111), page.size());
    EXPECT_EQ(stamped, page);
}

TEST(PageLayerTest, HeaderCaptureStoresPagesWithZeroCrcAndRecordsThem) {
    const auto stream = build_stream({{2, 0, 5, 0, lacing_for({30})},
                                      {0, 0, 5, 1, lacing_for({90, 600})},
                                      {0, 0, 5, 2, lacing_for({40})},
                                      {4, 9, 5, 3, lacing_for({40})}});
    std::vector<OggPage> pages;
    split_ogg_pages(stream.data(), stream.size(), pages);
    // Both directions capture the second page (the header pages) and record it at the first audio start.
    auto run = [&]<class Dir>(PageRig& rig, const std::vector<uint8_t>& archive, std::vector<uint8_t>& output,
                              RangeEncoder& enc) {
        constexpr bool packing = Dir::packing;
        if (packing) {
            set_original_pages(rig.ctx, pages.data(), static_cast<int32_t>(pages.size()), &enc);
        } else {
            rig.ctx.output = vector_sink(output);
            open_page_buffer(rig.ctx);
            init_decoder(rig.ctx.page_decoder, archive.data(), static_cast<int32_t>(archive.size()));
        }
        const auto payload = concat_payloads(pages);
        size_t pos = 0;
        auto move = [&]() {
            if (!packing) *rig.ctx.out_cursor = rig.ctx.packet_first_byte ? payload[pos++] : 0;
            while (enter_next_byte<Dir>(rig.ctx)) {
                if (!packing)
                    *rig.ctx.out_cursor = rig.ctx.out_cursor < rig.ctx.segment_end ? payload[pos++] : 0;
            }
        };
        ASSERT_TRUE(open_page<Dir>(rig.ctx, kOggFirstPage));
        ASSERT_TRUE(begin_packet<Dir>(rig.ctx));
        move();
        ASSERT_TRUE(open_page<Dir>(rig.ctx, 0)); // the comment page, captured from here on
        rig.ctx.capture_headers = 1;
        rig.ctx.capture_offset = store_size(rig.header_store);
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(begin_packet<Dir>(rig.ctx));
            move();
        }
        while (start_audio_packet<Dir>(rig.ctx))
            move();
        EXPECT_TRUE(stream_complete(rig.ctx));
    };
    PageRig packer;
    RangeEncoder enc;
    std::vector<uint8_t> unused;
    run.operator()<Packing>(packer, {}, unused, enc);
    flush_encoder(enc);
    EXPECT_FALSE(packer.ctx.inexpressible);
    PageRig unpacker;
    std::vector<uint8_t> output;
    RangeEncoder unused_enc;
    run.operator()<Unpacking>(unpacker, enc.out, output, unused_enc);
    EXPECT_EQ(output, stream);
    for (PageRig* rig : {&packer, &unpacker}) {
        ASSERT_EQ(rig->header_store.record_count, 1);
        uint8_t* bytes = nullptr;
        int32_t length = 0;
        ASSERT_TRUE(store_lookup(rig->header_store, 0, bytes, length));
        ASSERT_EQ(static_cast<uint32_t>(length), pages[1].size);
        EXPECT_EQ(read_le32(bytes + 22), 0u);
        EXPECT_EQ(std::memcmp(bytes, pages[1].data, 22), 0);
        EXPECT_EQ(std::memcmp(bytes + 26, pages[1].data + 26, pages[1].size - 26), 0);
    }
}

} // namespace
