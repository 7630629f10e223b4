#include "vorbis/codebook_tables.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// The bits of an emission-order codeword as the bit writer would put them, first bit first.
std::string emitted(uint32_t codeword, int length) {
    std::string s;
    for (int i = 0; i < length; ++i)
        s += ((codeword >> i) & 1) ? '1' : '0';
    return s;
}

Codebook plain_book(const std::vector<uint8_t>& lengths) {
    Codebook book;
    book.entries = static_cast<int32_t>(lengths.size());
    book.codewords.assign(lengths.size(), 0xDEADBEEFu);
    return book;
}

TEST(AssignCodewordsTest, LengthsOneTwoThreeThreeGiveTheVorbisCode) {
    const std::vector<uint8_t> lengths = {1, 2, 3, 3};
    Codebook book = plain_book(lengths);
    ASSERT_TRUE(assign_codewords(book, lengths.data(), 4, nullptr));
    EXPECT_EQ(book.codewords, (std::vector<uint32_t>{0, 1, 3, 7}));
    EXPECT_EQ(emitted(book.codewords[0], 1), "0");
    EXPECT_EQ(emitted(book.codewords[1], 2), "10");
    EXPECT_EQ(emitted(book.codewords[2], 3), "110");
    EXPECT_EQ(emitted(book.codewords[3], 3), "111");
}

TEST(AssignCodewordsTest, SinglePresentEntryGetsCodewordZero) {
    const std::vector<uint8_t> lengths = {kAbsentEntry, 1, kAbsentEntry, kAbsentEntry};
    Codebook book = plain_book(lengths);
    ASSERT_TRUE(assign_codewords(book, lengths.data(), 4, nullptr));
    EXPECT_EQ(book.codewords[1], 0u);
}

TEST(AssignCodewordsTest, NoPresentEntryAssignsNothing) {
    const std::vector<uint8_t> lengths(5, kAbsentEntry);
    Codebook book = plain_book(lengths);
    ASSERT_TRUE(assign_codewords(book, lengths.data(), 5, nullptr));
    EXPECT_EQ(book.codewords, std::vector<uint32_t>(5, 0xDEADBEEFu));
}

TEST(AssignCodewordsTest, OverSubscribedLengthsFail) {
    const std::vector<uint8_t> lengths = {1, 1, 1};
    Codebook book = plain_book(lengths);
    EXPECT_FALSE(assign_codewords(book, lengths.data(), 3, nullptr));
    const std::vector<uint8_t> deeper = {2, 2, 2, 2, 3};
    Codebook other = plain_book(deeper);
    EXPECT_FALSE(assign_codewords(other, deeper.data(), 5, nullptr));
}

TEST(AssignCodewordsTest, LengthsOutsideOneToThirtyTwoAreRefused) {
    for (uint8_t bad : {uint8_t{0}, uint8_t{33}, uint8_t{200}}) {
        const std::vector<uint8_t> first = {bad, 1};
        Codebook a = plain_book(first);
        EXPECT_FALSE(assign_codewords(a, first.data(), 2, nullptr)) << int{bad};
        const std::vector<uint8_t> later = {1, bad};
        Codebook b = plain_book(later);
        EXPECT_FALSE(assign_codewords(b, later.data(), 2, nullptr)) << int{bad};
    }
}

TEST(AssignCodewordsTest, ThirtyTwoBitCodewordsFitTheFreeTable) {
    // A complete code down to depth 32: lengths 1, 2, ..., 31, 32, 32.
    std::vector<uint8_t> lengths;
    for (int d = 1; d <= 32; ++d)
        lengths.push_back(static_cast<uint8_t>(d));
    lengths.push_back(32);
    Codebook book = plain_book(lengths);
    ASSERT_TRUE(assign_codewords(book, lengths.data(), static_cast<int32_t>(lengths.size()), nullptr));
    EXPECT_EQ(book.codewords[31], 0x7FFFFFFFu);
    EXPECT_EQ(book.codewords[32], 0xFFFFFFFFu);
    lengths.push_back(32);
    Codebook full = plain_book(lengths);
    EXPECT_FALSE(assign_codewords(full, lengths.data(), static_cast<int32_t>(lengths.size()), nullptr));
}

// Every codeword must differ from every other in its first min(length) bits: a prefix code.
void expect_prefix_free(const std::vector<uint32_t>& codes, const std::vector<uint8_t>& lengths) {
    for (size_t i = 0; i < codes.size(); ++i)
        for (size_t j = i + 1; j < codes.size(); ++j) {
            const int n = std::min(lengths[i], lengths[j]);
            const uint32_t mask = n == 32 ? 0xFFFFFFFFu : (1u << n) - 1;
            EXPECT_NE(codes[i] & mask, codes[j] & mask) << i << " vs " << j;
        }
}

TEST(DeriveCodewordsTest, SparseBookIsSortedByCodewordAndMapsBackToEntries) {
    // 40 entries, 6 present: stays sparse (6 < 40 / 4).
    std::vector<uint8_t> lengths(40, kAbsentEntry);
    const int present[6] = {3, 7, 8, 20, 31, 39};
    const uint8_t lens[6] = {2, 3, 1, 4, 5, 5};
    for (int i = 0; i < 6; ++i)
        lengths[present[i]] = lens[i];
    const std::vector<uint8_t> original = lengths;
    Codebook book;
    book.entries = 40;
    book.sparse = 1;
    ASSERT_TRUE(derive_codewords(book, lengths, 6));
    ASSERT_EQ(book.sparse, 1);
    ASSERT_EQ(book.sorted_entries, 6);
    EXPECT_TRUE(book.codewords.empty());
    ASSERT_EQ(book.sorted_codewords.size(), 7u);
    EXPECT_EQ(book.sorted_codewords[6], 0xFFFFFFFFu);

    // The same lengths as a full book give each entry its codeword; the sparse lists must hold exactly
    // those pairs, in ascending order of the codeword read most significant bit first.
    Codebook full = plain_book(original);
    ASSERT_TRUE(assign_codewords(full, original.data(), 40, nullptr));
    uint32_t previous_key = 0;
    for (int s = 0; s < 6; ++s) {
        const int entry = book.sorted_values[s];
        EXPECT_EQ(book.codeword_lengths[s], original[entry]);
        EXPECT_EQ(book.sorted_codewords[s], full.codewords[entry]);
        const uint32_t key = reverse_bits32(book.sorted_codewords[s]);
        if (s > 0) {
            EXPECT_LT(previous_key, key);
        }
        previous_key = key;
    }
    std::vector<uint32_t> codes(book.sorted_codewords.begin(), book.sorted_codewords.begin() + 6);
    expect_prefix_free(codes, book.codeword_lengths);
}

TEST(DeriveCodewordsTest, SparseBookWithAQuarterPresentBecomesFull) {
    std::vector<uint8_t> lengths(16, kAbsentEntry);
    lengths[0] = lengths[5] = lengths[9] = lengths[15] = 2;
    Codebook book;
    book.entries = 16;
    book.sparse = 1;
    ASSERT_TRUE(derive_codewords(book, lengths, 4));
    EXPECT_EQ(book.sparse, 0);
    EXPECT_EQ(book.codewords.size(), 16u);
    EXPECT_EQ(book.codeword_lengths[5], 2);
    EXPECT_EQ(book.codeword_lengths[6], kAbsentEntry);

    std::vector<uint8_t> fewer(16, kAbsentEntry);
    fewer[0] = fewer[5] = fewer[9] = 2;
    Codebook sparse;
    sparse.entries = 16;
    sparse.sparse = 1;
    ASSERT_TRUE(derive_codewords(sparse, fewer, 3));
    EXPECT_EQ(sparse.sparse, 1);
    EXPECT_EQ(sparse.sorted_entries, 3);
}

TEST(DeriveCodewordsTest, SparseBookWithNoEntryKeepsNoLists) {
    std::vector<uint8_t> lengths(12, kAbsentEntry);
    Codebook book;
    book.entries = 12;
    book.sparse = 1;
    ASSERT_TRUE(derive_codewords(book, lengths, 0));
    EXPECT_EQ(book.sparse, 1);
    EXPECT_EQ(book.sorted_entries, 0);
    EXPECT_TRUE(book.sorted_values.empty());
}

TEST(DeriveCodewordsTest, BadPrefixCodeFailsInBothForms) {
    std::vector<uint8_t> full = {1, 1, 1, 2};
    Codebook a;
    a.entries = 4;
    EXPECT_FALSE(derive_codewords(a, full, 4));
    std::vector<uint8_t> sparse(20, kAbsentEntry);
    sparse[2] = sparse[3] = sparse[11] = 1;
    Codebook b;
    b.entries = 20;
    b.sparse = 1;
    EXPECT_FALSE(derive_codewords(b, sparse, 3));
}

TEST(Lookup1ValuesTest, ExactRootsAndTheirNeighbours) {
    EXPECT_EQ(lookup1_values(1, 1), 1);
    EXPECT_EQ(lookup1_values(81, 4), 3);
    EXPECT_EQ(lookup1_values(80, 4), 2);
    EXPECT_EQ(lookup1_values(82, 4), 3);
    EXPECT_EQ(lookup1_values(6561, 8), 3);
    EXPECT_EQ(lookup1_values(289, 2), 17);
    EXPECT_EQ(lookup1_values(288, 2), 16);
    EXPECT_EQ(lookup1_values(1000, 3), 10);
    EXPECT_EQ(lookup1_values(999, 3), 9);
}

TEST(Lookup1ValuesTest, AgreesWithTheIntegerRootOverARange) {
    for (int dims = 1; dims <= 8; ++dims)
        for (int entries = 1; entries <= 5000; entries += (entries < 300 ? 1 : 37)) {
            int r = 0;
            for (;;) {
                double p = 1;
                for (int i = 0; i < dims; ++i)
                    p *= r + 1;
                if (p > entries) break;
                ++r;
            }
            ASSERT_EQ(lookup1_values(entries, dims), r) << entries << "^(1/" << dims << ")";
        }
}

TEST(Lookup1ValuesTest, NonPositiveArgumentsGiveZero) {
    EXPECT_EQ(lookup1_values(0, 2), 0);
    EXPECT_EQ(lookup1_values(16, 0), 0);
    EXPECT_EQ(lookup1_values(-5, 2), 0);
}

TEST(IntPowerTest, ExponentsOfOneOrLessReturnTheBase) {
    EXPECT_EQ(int_power(5, 0), 5);
    EXPECT_EQ(int_power(5, 1), 5);
    EXPECT_EQ(int_power(5, -3), 5);
    EXPECT_EQ(int_power(3, 4), 81);
    EXPECT_EQ(int_power(2, 31), static_cast<int32_t>(0x80000000u));
    EXPECT_EQ(int_power(2, 32), 0); // wraps in 32 bits
    EXPECT_EQ(int_power(17, 2), 289);
}

TEST(FloorNeighboursTest, NearestLowerAndHigherEarlierPositions) {
    const uint16_t x[] = {0, 128, 64, 32};
    int low = -7, high = -7;
    find_floor1_neighbours(x, 3, low, high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 2);
    find_floor1_neighbours(x, 2, low, high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 1);
}

TEST(FloorNeighboursTest, EqualValuesAreNeverNeighboursAndMissingOnesKeepTheCallersValue) {
    const uint16_t x[] = {10, 20, 10, 20, 15};
    int low = 99, high = 99;
    find_floor1_neighbours(x, 2, low, high); // only 20 is a candidate (above)
    EXPECT_EQ(low, 99);
    EXPECT_EQ(high, 1);
    low = high = 99;
    find_floor1_neighbours(x, 4, low, high); // earliest of equal values wins
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 1);
}

TEST(FloorOrderTest, SortedOrderAndNeighboursOfAFloor) {
    Floor1 floor;
    floor.values = 6;
    const uint16_t x[] = {0, 256, 128, 64, 192, 32};
    std::copy(std::begin(x), std::end(x), floor.x_list.begin());
    derive_floor1_order(floor);
    const uint8_t expected[] = {0, 5, 3, 2, 4, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(floor.sorted_order[i], expected[i]) << i;
    EXPECT_EQ(floor.neighbours[4][0], 2);
    EXPECT_EQ(floor.neighbours[4][1], 1);
    EXPECT_EQ(floor.neighbours[5][0], 0);
    EXPECT_EQ(floor.neighbours[5][1], 3);
}

TEST(ValueTableTest, TypeOneTwoDimensionsThreeValues) {
    Codebook book;
    book.entries = 9;
    book.dimensions = 2;
    book.lookup_type = 1;
    book.lookup_values = lookup1_values(9, 2);
    ASSERT_EQ(book.lookup_values, 3);
    const std::vector<int16_t> stored = {1, 0, 2}; // in coded order, not sorted
    ASSERT_TRUE(build_value_table(book, stored));
    EXPECT_EQ(book.value_radix, 3);
    EXPECT_EQ(book.tuple_count, 9);
    EXPECT_EQ(book.lookup_type, 2);
    EXPECT_TRUE(book.has_entry_table);
    for (int e = 0; e < 9; ++e) {
        const int v0 = stored[e % 3], v1 = stored[(e / 3) % 3];
        EXPECT_EQ(book.value_table[v0 * 3 + v1], e) << e;
    }
}

TEST(ValueTableTest, SparseTypeOneBookMapsToSortedIndices) {
    std::vector<uint8_t> lengths(25, kAbsentEntry);
    lengths[1] = 1;
    lengths[12] = 2;
    lengths[24] = 2;
    Codebook book;
    book.entries = 25;
    book.dimensions = 2;
    book.sparse = 1;
    ASSERT_TRUE(derive_codewords(book, lengths, 3));
    ASSERT_EQ(book.sparse, 1);
    book.lookup_type = 1;
    book.lookup_values = lookup1_values(25, 2);
    const std::vector<int16_t> stored = {0, 1, 2, 3, 4};
    ASSERT_TRUE(build_value_table(book, stored));
    EXPECT_EQ(book.value_radix, 5);
    for (int s = 0; s < 3; ++s) {
        const int e = book.sorted_values[s];
        EXPECT_EQ(book.value_table[(e % 5) * 5 + e / 5], s);
    }
}

TEST(ValueTableTest, TypeTwoKeepsTheStoredValues) {
    Codebook book;
    book.entries = 3;
    book.dimensions = 2;
    book.lookup_type = 2;
    book.lookup_values = 6;
    const std::vector<int16_t> stored = {5, -1, 7, 0, 3, 2};
    ASSERT_TRUE(build_value_table(book, stored));
    EXPECT_FALSE(book.has_entry_table);
    EXPECT_EQ(book.value_table, (std::vector<int32_t>{5, -1, 7, 0, 3, 2}));
    EXPECT_EQ(book.value_radix, 0);
}

TEST(ValueTableTest, TablesThatCannotBeHeldOrIndexedAreRefused) {
    Codebook wide; // 300^4 codes
    wide.entries = 16;
    wide.dimensions = 4;
    wide.lookup_type = 1;
    EXPECT_FALSE(build_value_table(wide, {0, 299}));
    Codebook negative; // a 16-bit stored value above 32,767
    negative.entries = 4;
    negative.dimensions = 2;
    negative.lookup_type = 1;
    EXPECT_FALSE(build_value_table(negative, {1, -2}));
    Codebook empty;
    empty.entries = 4;
    empty.lookup_type = 1;
    EXPECT_FALSE(build_value_table(empty, {}));
}

TEST(ClassDigitsTest, DigitsMostSignificantFirst) {
    Residue residue;
    residue.classifications = 3;
    Codebook classbook;
    classbook.entries = 9;
    classbook.dimensions = 2;
    ASSERT_TRUE(build_class_digits(residue, classbook));
    EXPECT_EQ(residue.class_digits[7 * 2 + 0], 2);
    EXPECT_EQ(residue.class_digits[7 * 2 + 1], 1);
    classbook.entries = 0;
    EXPECT_FALSE(build_class_digits(residue, classbook));
}

} // namespace
