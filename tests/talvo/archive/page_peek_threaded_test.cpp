// The page check at the archive reader and the replay refill through it (the reader runs its own thread).
#include "archive/page_peek.h"
#include "ogg/bit_io.h"
#include "page_rig.h"

#include <gtest/gtest.h>

namespace {

TEST(PeekPageTest, ValidPageIsSizedAndTheReaderStaysPut) {
    std::mt19937 rng(12);
    auto page = build_page({0, 77, 3, 9, {255, 255, 100}}, rng);
    std::vector<uint8_t> input = {0xAA};
    input.insert(input.end(), page.begin(), page.end());
    ArchiveReader reader;
    ASSERT_TRUE(reader_start_memory(reader, input.data(), input.size()));
    EXPECT_EQ(read_byte(reader), 0xAA);
    const int32_t before = reader_position(reader);
    EXPECT_EQ(peek_page(reader), static_cast<int32_t>(page.size()));
    EXPECT_EQ(reader_position(reader), before);
    EXPECT_EQ(read_byte(reader), 'O');
    reader_stop(reader);

    auto flipped = input;
    flipped[1 + 27 + 3 + 300] ^= 0x10; // one payload byte
    ArchiveReader r2;
    ASSERT_TRUE(reader_start_memory(r2, flipped.data(), flipped.size()));
    read_byte(r2);
    EXPECT_EQ(peek_page(r2), 0);
    EXPECT_EQ(reader_position(r2), before);
    EXPECT_EQ(read_byte(r2), 'O');
    reader_stop(r2);

    auto cut = std::vector<uint8_t>(input.begin(), input.end() - 10);
    ArchiveReader r3;
    ASSERT_TRUE(reader_start_memory(r3, cut.data(), cut.size()));
    read_byte(r3);
    EXPECT_LT(peek_page(r3), 1);
    EXPECT_EQ(read_byte(r3), 'O');
    reader_stop(r3);
}

TEST(PeekPageTest, ReplayRefillTakesTheNextPageFromTheArchive) {
    // The replay buffer holds a page whose packet continues; the next page comes verbatim from the
    // archive reader, checked in place first.
    std::mt19937 rng(13);
    const auto first = build_page({0, 0, 3, 1, {255}}, rng);
    const auto second = build_page({1, 0, 3, 2, {20}}, rng);
    ArchiveReader reader;
    ASSERT_TRUE(reader_start_memory(reader, second.data(), second.size()));
    PageRig rig;
    rig.ctx.replay_refill = archive_page_refill(reader);
    rig.ctx.mode = CodingMode::Replay;
    rig.ctx.segment_index = -1;
    load_replay(rig.ctx, first.data(), static_cast<int32_t>(first.size()));
    ASSERT_TRUE(begin_packet<Unpacking>(rig.ctx));
    for (int i = 0; i < 255; ++i)
        ASSERT_EQ(read_bits<Unpacking>(rig.ctx, 8), first[28 + i]);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(read_bits<Unpacking>(rig.ctx, 8), second[28 + i]) << i;
    EXPECT_EQ(read_bits<Unpacking>(rig.ctx, 1), 0u);
    EXPECT_EQ(rig.ctx.input_ended, 0);
    reader_stop(reader);
}

} // namespace
