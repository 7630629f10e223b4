// Reading a codeword from a window of the packet's next bits (packing): the table of short codewords
// and the tree of long ones must name the same entry and length as matching the codewords one by one.

#include "ogg/page_layer.h"
#include "page_rig.h"
#include "vorbis/codebook_tables.h"
#include "vorbis/codeword_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

Codebook book_of(const std::vector<uint8_t>& lengths) {
    Codebook book;
    book.entries = static_cast<int32_t>(lengths.size());
    book.codewords.assign(lengths.size(), 0);
    book.codeword_lengths = lengths;
    EXPECT_TRUE(assign_codewords(book, lengths.data(), book.entries, nullptr));
    return book;
}

// The entry whose codeword begins the window, found by comparing every codeword; -1 when none does.
int32_t matching_entry(const Codebook& book, uint64_t window, int& length) {
    for (int32_t i = 0; i < book.entries; ++i) {
        const int n = book.codeword_lengths[static_cast<size_t>(i)];
        if (n == kAbsentEntry) continue;
        if ((window & ((uint64_t{1} << n) - 1)) == book.codewords[static_cast<size_t>(i)]) {
            length = n;
            return i;
        }
    }
    return -1;
}

void expect_windows_match(const Codebook& book, uint32_t seed) {
    CodewordDecoder decoder;
    ASSERT_TRUE(build_codeword_decoder(book, decoder));
    std::mt19937_64 rng(seed);
    for (int round = 0; round < 20000; ++round) {
        const uint64_t window = rng() & 0xFFFFFFFFu;
        int expected_length = 0, length = -1;
        const int32_t expected = matching_entry(book, window, expected_length);
        const int32_t index = codeword_in_window(decoder, window, length);
        ASSERT_EQ(index, expected) << std::hex << window;
        if (expected >= 0) {
            ASSERT_EQ(length, expected_length) << std::hex << window;
        }
    }
    // Every codeword on its own, followed by random bits.
    for (int32_t i = 0; i < book.entries; ++i) {
        const int n = book.codeword_lengths[static_cast<size_t>(i)];
        if (n == kAbsentEntry) continue;
        const uint64_t window = (book.codewords[static_cast<size_t>(i)] | (rng() << n)) & 0xFFFFFFFFu;
        int length = 0;
        EXPECT_EQ(codeword_in_window(decoder, window, length), i);
        EXPECT_EQ(length, n);
    }
}

TEST(CodewordWindow, ShortAndLongCodewordsOfACompleteCode) {
    // Lengths 1 to 18: codewords both within the table's ten bits and past them.
    std::vector<uint8_t> lengths;
    for (uint8_t n = 1; n <= 17; ++n)
        lengths.push_back(n);
    lengths.push_back(18);
    lengths.push_back(18);
    expect_windows_match(book_of(lengths), 1);
}

TEST(CodewordWindow, AbsentEntriesAndBitsThatFormNoCodeword) {
    // An incomplete code: some windows begin with no codeword at all, at short and at long lengths.
    const std::vector<uint8_t> lengths = {2, kAbsentEntry, 3, 5, kAbsentEntry, 12, 12, 14};
    const Codebook book = book_of(lengths);
    expect_windows_match(book, 2);
    CodewordDecoder decoder;
    ASSERT_TRUE(build_codeword_decoder(book, decoder));
    int length = 0;
    EXPECT_EQ(codeword_in_window(decoder, 0xFFFFFFFFu, length), -1);
    EXPECT_GT(length, 0);
}

TEST(CodewordWindow, ASingleEntryBook) {
    expect_windows_match(book_of({kAbsentEntry, 1, kAbsentEntry}), 3);
}

// Packing looks a codeword's values up in its decoder: for every codeword index, the stored values its
// entry's digits name (base lookup_values, lowest first), centred, as the residue codes them; the
// index of a sparse book names its entry through sorted_values.
TEST(CodewordWindow, EntryValuesAreTheCentredStoredValuesOfEachIndexsEntry) {
    Codebook dense = book_of(std::vector<uint8_t>(16, 4));
    Codebook sparse;
    sparse.sparse = 1;
    sparse.entries = 16;
    sparse.sorted_entries = 3;
    sparse.codeword_lengths = {1, 2, 2};
    sparse.sorted_codewords = {0, 1, 3, 0xFFFFFFFFu};
    sparse.sorted_values = {5, 9, 14};
    for (Codebook* book : {&dense, &sparse}) {
        book->dimensions = 2;
        book->stored_values = {7, 1, 4, 2};
        book->value_radix = 8;
        CodewordDecoder decoder;
        ASSERT_TRUE(build_codeword_decoder(*book, decoder));
        const int32_t count = book->sparse ? book->sorted_entries : book->entries;
        ASSERT_EQ(decoder.entry_dimensions, 2);
        ASSERT_EQ(decoder.entry_values.size(), static_cast<size_t>(count) * 2);
        for (int32_t index = 0; index < count; ++index) {
            const int32_t entry = book->sparse ? book->sorted_values[static_cast<size_t>(index)] : index;
            EXPECT_EQ(decoder.entry_values[static_cast<size_t>(index) * 2],
                      book->stored_values[entry % 4] - 4)
                << index;
            EXPECT_EQ(decoder.entry_values[static_cast<size_t>(index) * 2 + 1],
                      book->stored_values[entry / 4 % 4] - 4)
                << index;
        }
    }
    // A book without stored values (a class or floor book) keeps no table.
    CodewordDecoder decoder;
    ASSERT_TRUE(build_codeword_decoder(book_of({1, 2, 2}), decoder));
    EXPECT_TRUE(decoder.entry_values.empty());
}

// Packing skips the checks of a full vector whose entry comes back as itself: not where another entry
// with the same values is the one the value table names, nor where a value lies beyond the residue's
// magnitudes.
TEST(CodewordWindow, EntriesRoundTripUnlessSharedOrTooLarge) {
    Codebook shared = book_of(std::vector<uint8_t>(16, 4));
    shared.dimensions = 2;
    shared.lookup_type = 1;
    ASSERT_TRUE(build_value_table(shared, {7, 1, 7, 2})); // digits 0 and 2 stand for the same value
    CodewordDecoder decoder;
    ASSERT_TRUE(build_codeword_decoder(shared, decoder));
    ASSERT_EQ(decoder.entry_round_trips.size(), 16u);
    const std::vector<int> last_of_their_values = {5, 6, 7, 9, 10, 11, 13, 14, 15};
    for (int index = 0; index < 16; ++index) {
        const bool last = std::find(last_of_their_values.begin(), last_of_their_values.end(), index) !=
                          last_of_their_values.end();
        EXPECT_EQ(decoder.entry_round_trips[static_cast<size_t>(index)], last ? 1 : 0) << index;
    }
    for (int16_t largest : {1000, 1100}) { // centred values of +-500, and of +-550 beyond 511
        Codebook wide = book_of({1, 1});
        wide.dimensions = 1;
        wide.lookup_type = 1;
        ASSERT_TRUE(build_value_table(wide, {0, largest}));
        CodewordDecoder wide_decoder;
        ASSERT_TRUE(build_codeword_decoder(wide, wide_decoder));
        ASSERT_EQ(wide_decoder.entry_round_trips.size(), 2u);
        for (uint8_t round_trips : wide_decoder.entry_round_trips)
            EXPECT_EQ(round_trips, largest <= 1022 ? 1 : 0) << largest;
    }
}

// Packing reads the codewords of a residue partition through a reader held in locals: it must name
// the same codewords and leave the cursor where take_codeword does, across segment and page ends (where
// it reads bit by bit) and handed back at any point, and tell the packet's last four bytes.
TEST(CodewordWindow, LocalReaderReadsAsTakeCodewordAcrossSegmentsAndPages) {
    const Codebook book = book_of({2, 4, 4, 3, 5, 5, 6, 7, 12, 12, 11, 3, 3});
    CodewordDecoder decoder;
    ASSERT_TRUE(build_codeword_decoder(book, decoder));
    const std::vector<PageLayout> layouts = {{2, 0, 1, 0, {30}},
                                             {0, 1, 1, 1, {1, 0, 255, 255}},
                                             {1, 2, 1, 2, {255, 255, 255, 255, 255, 255}},
                                             {1, 3, 1, 3, {17, 1, 255, 0, 200, 255}},
                                             {1 | 4, 4, 1, 4, {9, 1, 1, 1, 45}}};
    const auto bytes = build_stream(layouts, 33);
    std::vector<OggPage> pages;
    split_ogg_pages(bytes.data(), bytes.size(), pages);
    PageRig plain, local;
    RangeEncoder plain_encoder, local_encoder;
    set_original_pages(plain.ctx, pages.data(), static_cast<int32_t>(pages.size()), &plain_encoder);
    set_original_pages(local.ctx, pages.data(), static_cast<int32_t>(pages.size()), &local_encoder);
    std::mt19937 rng(9);
    const auto same_place = [&] {
        ASSERT_EQ(local.ctx.out_cursor, plain.ctx.out_cursor);
        ASSERT_EQ(local.ctx.bit_pos, plain.ctx.bit_pos);
        ASSERT_EQ(local.ctx.segment_remaining, plain.ctx.segment_remaining);
        ASSERT_EQ(local.ctx.packet_remaining, plain.ctx.packet_remaining);
    };
    int codewords = 0;
    const auto packet = [&] {
        const int count = static_cast<int>(rng() % 3000);
        LocalCodewordReader reader(local.ctx);
        for (int i = 0; i < count && !packet_overrun(plain.ctx); ++i, ++codewords) {
            ASSERT_EQ(reader.near_packet_end(), plain.ctx.packet_remaining <= 4)
                << plain.ctx.packet_remaining;
            ASSERT_EQ(reader.codeword(decoder), take_codeword(plain.ctx, decoder)) << codewords;
            if (rng() % 8 == 0) {
                reader.store();
                same_place();
            }
        }
        reader.store();
        same_place();
        for (PageRig* rig : {&plain, &local})
            while (enter_next_byte<Packing>(rig->ctx))
                rig->ctx.bit_pos = 0;
    };
    for (PageRig* rig : {&plain, &local}) {
        ASSERT_TRUE(open_page<Packing>(rig->ctx, kOggFirstPage));
        ASSERT_TRUE(begin_packet<Packing>(rig->ctx));
    }
    packet();
    while (true) {
        const bool more = start_audio_packet<Packing>(plain.ctx);
        ASSERT_EQ(start_audio_packet<Packing>(local.ctx), more);
        if (!more) break;
        packet();
    }
    EXPECT_GT(codewords, 500);
}

} // namespace
