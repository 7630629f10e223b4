#include "vorbis/codebook_slots.h"
#include "vorbis/codebook_tables.h"

#include "coder/range_decoder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

Codebook lookup_book(const std::vector<uint8_t>& lengths, float delta = 1.5f, int32_t lookup_values = 3) {
    Codebook book;
    book.entries = static_cast<int32_t>(lengths.size());
    book.codeword_lengths = lengths;
    book.delta_value = delta;
    book.lookup_values = lookup_values;
    book.lookup_type = 1;
    return book;
}

struct SlotTableTest : ::testing::Test {
    CodebookSlotTable table;
    void SetUp() override { ASSERT_TRUE(init_slot_table(table, 16, 4)); }
};

bool all_half(const PacketProbs& probs, size_t from, size_t to) {
    return std::all_of(probs.data() + from, probs.data() + to, [](uint16_t p) { return p == kProbInit; });
}

TEST_F(SlotTableTest, InitEmptiesTheTableAndHalvesEveryProbability) {
    EXPECT_EQ(table.used_count, 0);
    EXPECT_EQ(table.capacity, 16);
    EXPECT_EQ(table.age_shift, 4);
    ASSERT_EQ(table.packet_probs.size, packet_probs_size(16));
    EXPECT_TRUE(all_half(table.packet_probs, 0, table.packet_probs.ready));
    prepare_slot_block(table, 15);
    ASSERT_EQ(table.packet_probs.ready, table.packet_probs.size);
    EXPECT_TRUE(all_half(table.packet_probs, 0, table.packet_probs.size));
    table.packet_probs[12345] = 7;
    table.packet_probs[kSharedPacketProbs + 3 * kSlotBlockProbs] = 7;
    table.slots[3].usage = 9;
    table.used_count = 5;
    ASSERT_TRUE(init_slot_table(table, 16, 4));
    EXPECT_EQ(table.packet_probs[12345], kProbInit);
    prepare_slot_block(table, 3);
    EXPECT_EQ(table.packet_probs[kSharedPacketProbs + 3 * kSlotBlockProbs], kProbInit);
    EXPECT_EQ(table.slots[3].usage, 0u);
    EXPECT_EQ(table.used_count, 0);
}

// A slot's contexts reach into the next block; preparing that next slot later must not undo what they
// learned there, and a slot is ready before a book uses it.
TEST_F(SlotTableTest, PreparingASlotKeepsWhatTheSlotBeforeItLearned) {
    ASSERT_EQ(match_codebook_model(table, lookup_book({1, 2, 3, 3})), 0);
    const size_t next_block = static_cast<size_t>(kSharedPacketProbs) + kSlotBlockProbs;
    EXPECT_TRUE(all_half(table.packet_probs, 0, next_block + kSlotBlockSpareProbs));
    table.packet_probs[next_block + 5] = 7;
    ASSERT_EQ(match_codebook_model(table, lookup_book({1, 2, 3, 3}, 2.5f)), 1);
    EXPECT_EQ(table.packet_probs[next_block + 5], 7);
    EXPECT_TRUE(all_half(table.packet_probs, next_block + 6, next_block + kSlotBlockProbs));

    // A copy, as the packer takes before a stream it may roll back, holds the same ready values.
    const PacketProbs copy = table.packet_probs;
    EXPECT_TRUE(copy == table.packet_probs);
    table.packet_probs[next_block + 5] = 8;
    EXPECT_FALSE(copy == table.packet_probs);

    // Assigned into a block of the same size that had gone further (the packer's saved table after a
    // taken-back stream): the same ready values, and one half past them, where a slot prepared later
    // starts.
    PacketProbs further = table.packet_probs;
    const size_t far_entry = static_cast<size_t>(kSharedPacketProbs) + 9 * kSlotBlockProbs;
    further.ready = far_entry + 1;
    further[far_entry] = 9;
    further[next_block + 5] = 9;
    const uint16_t* block = further.data();
    further = copy;
    EXPECT_EQ(further.data(), block) << "no new block for every stream";
    EXPECT_TRUE(further == copy);
    EXPECT_EQ(further[next_block + 5], 7);
    EXPECT_TRUE(all_half(further, copy.ready, far_entry + 1));
}

TEST_F(SlotTableTest, FirstBookTakesSlotZeroAndAnIdenticalOneReusesIt) {
    const std::vector<uint8_t> lengths = {1, 2, 3, 3, 4, 4, 4, 4};
    EXPECT_EQ(match_codebook_model(table, lookup_book(lengths)), 0);
    EXPECT_EQ(table.used_count, 1);
    EXPECT_EQ(table.slots[0].usage, 0u);
    EXPECT_EQ(table.slots[0].lengths, lengths);
    EXPECT_EQ(table.used_in_stream[0], 1);
    EXPECT_EQ(match_codebook_model(table, lookup_book(lengths)), 0);
    EXPECT_EQ(table.slots[0].usage, 1u);
    EXPECT_EQ(table.used_count, 1);
}

TEST_F(SlotTableTest, BooksThatDifferInKindAreNotComparable) {
    const std::vector<uint8_t> lengths = {2, 2, 2, 2};
    ASSERT_EQ(match_codebook_model(table, lookup_book(lengths)), 0);
    EXPECT_EQ(match_codebook_model(table, lookup_book(lengths, 2.5f)), 1);
    EXPECT_EQ(match_codebook_model(table, lookup_book(lengths, 1.5f, 4)), 2);
    EXPECT_EQ(match_codebook_model(table, lookup_book({2, 2, 2, 2, 2})), 3);
    EXPECT_EQ(table.used_count, 4);
}

TEST_F(SlotTableTest, ScoreOfExactly256ReusesAndScore272TakesANewSlot) {
    const std::vector<uint8_t> base(16, 5);
    ASSERT_EQ(match_codebook_model(table, lookup_book(base)), 0);
    std::vector<uint8_t> every_one_off(16);
    for (int i = 0; i < 16; ++i)
        every_one_off[i] = static_cast<uint8_t>(i % 2 ? 6 : 4);
    EXPECT_EQ(match_codebook_model(table, lookup_book(every_one_off)), 0); // 16 x 256 / 16 = 256
    EXPECT_EQ(table.slots[0].lengths, base) << "a reused slot keeps its stored lengths";
    std::vector<uint8_t> seventeen_off = base;
    seventeen_off[0] = 22;                                                 // 17 units in total
    EXPECT_EQ(match_codebook_model(table, lookup_book(seventeen_off)), 1); // 17 x 256 / 16 = 272
    EXPECT_EQ(table.slots[1].lengths, seventeen_off);
}

TEST_F(SlotTableTest, TheClosestComparableSlotWinsEarliestOnTies) {
    ASSERT_EQ(match_codebook_model(table, lookup_book(std::vector<uint8_t>(4, 1))), 0);
    ASSERT_EQ(match_codebook_model(table, lookup_book(std::vector<uint8_t>(4, 9))), 1);
    ASSERT_EQ(match_codebook_model(table, lookup_book(std::vector<uint8_t>(4, 5))), 2);
    EXPECT_EQ(match_codebook_model(table, lookup_book({8, 9, 9, 9})), 1);
    EXPECT_EQ(match_codebook_model(table, lookup_book({5, 6, 5, 5})), 2);
}

TEST_F(SlotTableTest, HugeBookWithNoComparableSlotScores256AndGetsSlotZero) {
    Codebook book;
    book.entries = kMaxEntries;
    book.codeword_lengths.assign(kMaxEntries, 24);
    book.lookup_values = 77;
    EXPECT_EQ(match_codebook_model(table, book), 0);
    EXPECT_EQ(table.used_count, 0) << "matched, not stored";
    EXPECT_EQ(table.slots[0].usage, 1u);
    EXPECT_EQ(table.used_in_stream[0], 1);
}

TEST_F(SlotTableTest, SparseBooksCompareWithAbsentEntriesAtTheirLongestLength) {
    std::vector<uint8_t> lengths(40, kAbsentEntry);
    lengths[2] = 1;
    lengths[9] = 2;
    lengths[30] = 3;
    lengths[31] = 3;
    Codebook book;
    book.entries = 40;
    book.sparse = 1;
    ASSERT_TRUE(derive_codewords(book, lengths, 4));
    ASSERT_EQ(book.sparse, 1);
    book.lookup_values = 2;
    book.delta_value = 1.0f;
    ASSERT_EQ(match_codebook_model(table, book), 0);
    std::vector<uint8_t> expected(40, 3);
    expected[2] = 1;
    expected[9] = 2;
    EXPECT_EQ(table.slots[0].lengths, expected);
    EXPECT_EQ(match_codebook_model(table, lookup_book(expected, 1.0f, 2)), 0);
}

TEST_F(SlotTableTest, FullTableRecyclesTheLeastUsedSlotForAnUnlikeBook) {
    for (int k = 0; k < 16; ++k)
        ASSERT_EQ(match_codebook_model(table, lookup_book({2, 2, 2, 2}, static_cast<float>(k))), k);
    for (int k = 0; k < 16; ++k)
        table.slots[k].usage = static_cast<uint32_t>(k == 6 ? 1 : 10 + k);
    uint16_t* block = slot_block(table, 6);
    block[0] = 123;
    block[kSlotBlockProbs - 1] = 456;
    uint16_t* neighbour = slot_block(table, 7);
    neighbour[0] = 789;
    // No comparable slot: best distance 0xFFFFFFFF, score far above 4,095.
    EXPECT_EQ(match_codebook_model(table, lookup_book({1, 2, 3, 3}, 99.0f)), 6);
    EXPECT_EQ(block[0], kProbInit);
    EXPECT_EQ(block[kSlotBlockProbs - 1], kProbInit);
    EXPECT_EQ(neighbour[0], 789);
    uint32_t others = 0;
    for (int k = 0; k < 16; ++k)
        if (k != 6) others += 10 + k;
    EXPECT_EQ(table.slots[6].usage, others >> 4);
    EXPECT_EQ(table.slots[6].delta_value, 99.0f);
}

TEST_F(SlotTableTest, FullTableOverwritesTheBestSlotForAFairlyCloseBook) {
    for (int k = 0; k < 16; ++k)
        ASSERT_EQ(match_codebook_model(table, lookup_book(std::vector<uint8_t>(8, 1 + 2 * k))), k);
    uint16_t* block = slot_block(table, 1);
    block[10] = 321;
    const std::vector<uint8_t> same(8, 7);
    ASSERT_EQ(match_codebook_model(table, lookup_book(same)), 3) << "lengths 7 are exactly slot 3";
    std::vector<uint8_t> between(8, 3);
    between[0] = 30; // closest to slot 1 (lengths 3), 27 units: score 864, between 257 and 4,094
    for (int k = 0; k < 16; ++k)
        table.slots[k].usage = 32;
    EXPECT_EQ(match_codebook_model(table, lookup_book(between)), 1);
    EXPECT_EQ(table.slots[1].lengths, between);
    EXPECT_EQ(table.slots[1].usage, (15u * 32u) >> 4);
    EXPECT_EQ(block[10], 321) << "an overwritten slot keeps its adapted probabilities";
}

TEST_F(SlotTableTest, AgeingSkipsUsedSlotsAndNeverGoesBelowZero) {
    table.slots[0].usage = 3;
    table.slots[1].usage = 3;
    table.slots[2].usage = 0;
    clear_slot_stream_flags(table);
    table.used_in_stream[1] = 1;
    age_slot_table(table);
    EXPECT_EQ(table.slots[0].usage, 2u);
    EXPECT_EQ(table.slots[1].usage, 3u);
    EXPECT_EQ(table.slots[2].usage, 0u);
    for (int i = 0; i < 5; ++i)
        age_slot_table(table);
    EXPECT_EQ(table.slots[0].usage, 0u);
    clear_slot_stream_flags(table);
    EXPECT_EQ(table.used_in_stream[1], 0);
}

TEST(SlotTableSizesTest, ResidueContextsOfTheLastSlotStayInsideTheArray) {
    CodebookSlotTable table;
    ASSERT_TRUE(init_slot_table(table, 16, 4));
    // Farthest residue mantissa context: slot N-1, r4 3, lane 3, class 7, last class 9, w & 3 = 3.
    const size_t farthest = static_cast<size_t>(kSharedPacketProbs) + 15u * kSlotBlockProbs + 279552 + 4 * 3 +
                            16 * 3 + 512 * 7 + 64 * 9 + 3;
    EXPECT_LT(farthest, table.packet_probs.size);
    EXPECT_GE(farthest, static_cast<size_t>(kSharedPacketProbs) + 16u * kSlotBlockProbs);
}

} // namespace
