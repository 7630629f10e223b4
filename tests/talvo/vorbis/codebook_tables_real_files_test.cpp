// Codeword assignment and lookup tables checked against real encoders' setup headers: the assigned
// codewords must decode every audio packet of real files to exactly its last byte.

#include "ogg_samples.h"
#include "vorbis_reference.h"

#include "vorbis/codebook_tables.h"

#include <gtest/gtest.h>

namespace {

using namespace vorbis_reference;

class RealFilesTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (!ogg_samples::encoders_available() || !available())
            GTEST_SKIP() << "encoders or libogg not available in this build";
        const std::string path = ogg_samples::sample_path(GetParam());
        ASSERT_FALSE(path.empty()) << "could not make " << GetParam();
        streams = read_streams(ogg_samples::read_file(path));
        ASSERT_EQ(streams.size(), 1u);
        ASSERT_TRUE(libvorbis_accepts_headers(streams[0]));
        ASSERT_TRUE(parse_headers(streams[0], setup));
    }
    std::vector<LogicalStream> streams;
    StreamSetup setup;
};

Codebook derived_book(const Book& ref) {
    Codebook book;
    book.entries = ref.entries;
    book.dimensions = ref.dimensions;
    book.sparse = ref.sparse_coded ? 1 : 0;
    std::vector<uint8_t> lengths = ref.lengths;
    EXPECT_TRUE(derive_codewords(book, lengths, ref.present));
    return book;
}

CodewordTable table_of(const Codebook& book) {
    CodewordTable table;
    if (book.sparse) {
        for (int32_t s = 0; s < book.sorted_entries; ++s)
            table[codeword_key(book.codeword_lengths[s], book.sorted_codewords[s])] = book.sorted_values[s];
    } else {
        for (int32_t e = 0; e < book.entries; ++e)
            if (book.codeword_lengths[e] != kAbsentEntry)
                table[codeword_key(book.codeword_lengths[e], book.codewords[e])] = e;
    }
    return table;
}

TEST_P(RealFilesTest, AssignedCodewordsDecodeEveryAudioPacketToItsLastByte) {
    std::vector<CodewordTable> tables;
    for (const Book& ref : setup.books)
        tables.push_back(table_of(derived_book(ref)));
    const std::vector<long> blocksizes = libvorbis_packet_blocksizes(streams[0]);
    const auto& packets = streams[0].packets;
    ASSERT_GT(packets.size(), 3u);
    size_t exact = 0;
    long codewords = 0;
    for (size_t i = 3; i < packets.size(); ++i) {
        const Walk walk = walk_audio_packet(setup, tables, packets[i]);
        ASSERT_TRUE(walk.valid) << "packet " << i;
        EXPECT_EQ(setup.blocksize[setup.modes[walk.mode].blockflag], blocksizes[i]) << "packet " << i;
        if (!walk.reached_end) {
            EXPECT_EQ(static_cast<size_t>((walk.bits + 7) / 8), packets[i].size()) << "packet " << i;
            ++exact;
        }
        codewords += walk.codewords;
    }
    // Encoders cut packets only under bitrate management; everything else must end exactly.
    EXPECT_GE(exact * 10, (packets.size() - 3) * 9);
    if (GetParam().find("silence") == std::string::npos) {
        EXPECT_GT(codewords, 1000);
    }
}

TEST_P(RealFilesTest, CodewordsInTheWrongBitOrderDoNotDecodeTheFile) {
    if (GetParam().find("silence") != std::string::npos) GTEST_SKIP() << "silent packets hold no codeword";
    // The walk is only evidence if it notices a wrong table: read MSB first instead of LSB first.
    std::vector<CodewordTable> tables;
    for (const Book& ref : setup.books) {
        CodewordTable table;
        for (const auto& [key, entry] : table_of(derived_book(ref))) {
            const int length = static_cast<int>(key >> 32);
            table[codeword_key(length, reverse_bits32(static_cast<uint32_t>(key)) >> (32 - length))] = entry;
        }
        tables.push_back(std::move(table));
    }
    size_t intact = 0;
    const auto& packets = streams[0].packets;
    for (size_t i = 3; i < packets.size(); ++i) {
        const Walk walk = walk_audio_packet(setup, tables, packets[i]);
        intact +=
            walk.valid && !walk.reached_end && static_cast<size_t>((walk.bits + 7) / 8) == packets[i].size();
    }
    EXPECT_LT(intact * 2, packets.size() - 3);
}

TEST_P(RealFilesTest, SparseBooksKeepEveryPresentEntryInCodewordOrder) {
    for (const Book& ref : setup.books) {
        const Codebook book = derived_book(ref);
        if (!book.sparse) continue;
        ASSERT_EQ(book.sorted_entries, ref.present);
        for (int32_t s = 0; s < book.sorted_entries; ++s) {
            EXPECT_EQ(book.codeword_lengths[s], ref.lengths[book.sorted_values[s]]);
            if (s > 0) {
                EXPECT_LT(reverse_bits32(book.sorted_codewords[s - 1]),
                          reverse_bits32(book.sorted_codewords[s]));
            }
        }
    }
}

TEST_P(RealFilesTest, LookupValueCountsAndValueTablesOfRealBooks) {
    int type1 = 0;
    for (const Book& ref : setup.books) {
        if (ref.lookup_type == 0) continue;
        Codebook book = derived_book(ref);
        book.lookup_type = static_cast<uint8_t>(ref.lookup_type);
        book.lookup_values =
            ref.lookup_type == 1 ? lookup1_values(ref.entries, ref.dimensions) : ref.entries * ref.dimensions;
        ASSERT_EQ(book.lookup_values, ref.lookup_values);
        const std::vector<int16_t> stored(ref.values.begin(), ref.values.end());
        ASSERT_TRUE(build_value_table(book, stored));
        if (ref.lookup_type != 1) continue;
        ++type1;
        // Every present entry's tuple must lead back to an entry with the same tuple.
        auto tuple_code = [&](int e) {
            int64_t code = 0, divisor = 1;
            for (int k = 0; k < ref.dimensions; ++k) {
                code = code * book.value_radix + ref.values[(e / divisor) % ref.lookup_values];
                divisor *= ref.lookup_values;
            }
            return code;
        };
        const int count = book.sparse ? book.sorted_entries : book.entries;
        for (int i = 0; i < count; ++i) {
            const int e = book.sparse ? book.sorted_values[i] : i;
            const int found = book.value_table[tuple_code(e)];
            const int found_entry = book.sparse ? book.sorted_values[found] : found;
            EXPECT_EQ(tuple_code(found_entry), tuple_code(e));
        }
    }
    if (GetParam().rfind("ffmpeg_native", 0) != 0) {
        EXPECT_GT(type1, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, RealFilesTest, ::testing::ValuesIn(ogg_samples::sample_names()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             std::string name = param.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

} // namespace
