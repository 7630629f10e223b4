// The audio packet codec and the residue codec, in both directions: streams written from a description
// (floor multipliers, residue types, channel counts, cut packets) must come back byte for byte, and the
// value models must agree with themselves value by value.

#include "stream_round_trip.h"
#include "vorbis_reference.h"
#include "vorbis_stream_writer.h"

#include "coder/bit_direction.h"
#include "vorbis/audio_packet.h"
#include "vorbis/codebook_tables.h"
#include "vorbis/floor1_codec.h"
#include "vorbis/residue_codec.h"
#include "vorbis/vorbis_stream.h"

#include <gtest/gtest.h>
#include <random>
#include <tuple>

namespace {

using namespace stream_round_trip;

void expect_round_trip(const std::vector<uint8_t>& file) {
    LongLived packer, unpacker;
    Archive archive;
    const PackResult packed = pack(packer, file, archive);
    ASSERT_TRUE(packed.ok) << "inexpressible: " << packed.inexpressible;
    std::vector<uint8_t> out;
    ASSERT_TRUE(unpack(unpacker, archive, out));
    ASSERT_EQ(out.size(), file.size());
    EXPECT_TRUE(out == file);
}

// Every packet of the file must decode, by the independent reference reader with the Vorbis I
// assignment, to exactly its last byte: the file itself is valid Vorbis.
void expect_valid_vorbis(const std::vector<uint8_t>& file) {
    const auto streams = vorbis_reference::read_streams(file);
    ASSERT_EQ(streams.size(), 1u);
    ASSERT_TRUE(vorbis_reference::libvorbis_accepts_headers(streams[0]));
    vorbis_reference::StreamSetup setup;
    ASSERT_TRUE(vorbis_reference::parse_headers(streams[0], setup));
    std::vector<vorbis_reference::CodewordTable> tables;
    for (const auto& ref : setup.books) {
        Codebook book;
        book.entries = ref.entries;
        book.sparse = ref.sparse_coded;
        std::vector<uint8_t> lengths = ref.lengths;
        ASSERT_TRUE(derive_codewords(book, lengths, ref.present));
        vorbis_reference::CodewordTable t;
        const int count = book.sparse ? book.sorted_entries : book.entries;
        for (int i = 0; i < count; ++i)
            if (book.codeword_lengths[i] != kAbsentEntry)
                t[vorbis_reference::codeword_key(
                    book.codeword_lengths[i], book.sparse ? book.sorted_codewords[i] : book.codewords[i])] =
                    book.sparse ? book.sorted_values[i] : i;
        tables.push_back(t);
    }
    for (size_t i = 3; i < streams[0].packets.size(); ++i) {
        const auto walk = vorbis_reference::walk_audio_packet(setup, tables, streams[0].packets[i]);
        ASSERT_TRUE(walk.valid) << i;
        ASSERT_FALSE(walk.reached_end) << i;
        ASSERT_EQ(static_cast<size_t>((walk.bits + 7) / 8), streams[0].packets[i].size()) << i;
    }
}

bool tools() {
    return vorbis_reference::available();
}

class SyntheticStreamTest : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(SyntheticStreamTest, ComesBackByteForByte) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    const auto [channels, multiplier, type] = GetParam();
    const auto file = vorbis_writer::ogg_file(vorbis_writer::small_stream(channels, multiplier, type), 60, 7);
    expect_valid_vorbis(file);
    expect_round_trip(file);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SyntheticStreamTest,
                         ::testing::Values(std::make_tuple(1, 1, 1), std::make_tuple(1, 2, 1),
                                           std::make_tuple(1, 3, 1), std::make_tuple(2, 3, 2),
                                           std::make_tuple(2, 4, 2), std::make_tuple(1, 2, 0),
                                           std::make_tuple(2, 1, 0), std::make_tuple(2, 2, 1)));

TEST(InterleavedResidueTest, UncoupledChannelWithoutFloorIsRefusedNotMisread) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    // Vorbis decodes the whole interleaved vector once any channel has a floor; the codec codes only the
    // channels with a floor, so random values of the other channel cannot be expressed.
    auto s = vorbis_writer::small_stream(2, 2, 2);
    s.mappings[0].coupling.clear();
    const auto file = vorbis_writer::ogg_file(s, 60, 7);
    expect_valid_vorbis(file);
    LongLived packer;
    Archive archive;
    const PackResult packed = pack(packer, file, archive);
    EXPECT_FALSE(packed.ok);
    EXPECT_TRUE(packed.inexpressible);
}

TEST(FloorEndValuesTest, MultiplierThreeTakesSevenBitsAsVorbisCodesThem) {
    // ilog(range - 1) for the ranges 256, 128, 86 and 64.
    EXPECT_EQ(floor1_end_value_bits(1), 8);
    EXPECT_EQ(floor1_end_value_bits(2), 7);
    EXPECT_EQ(floor1_end_value_bits(3), 7);
    EXPECT_EQ(floor1_end_value_bits(4), 6);
}

TEST(FloorEndValuesTest, MultiplierThreeFloorsWithLargeEndValuesRoundTrip) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    // The writer puts end values of 82..85, which need all seven bits.
    const auto s = vorbis_writer::small_stream(2, 3, 1);
    const auto file = vorbis_writer::ogg_file(s, 30, 99);
    expect_valid_vorbis(file);
    expect_round_trip(file);
}

TEST(CutPacketTest, PacketsCutInsideTheResidueComeBack) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    const auto s = vorbis_writer::small_stream(1, 2, 1);
    std::vector<std::vector<uint8_t>> audio;
    for (uint32_t i = 0; i < 40; ++i) {
        auto packet = vorbis_writer::audio_packet(s, 500 + i);
        // Cut a quarter of the packets short by one to three bytes, as bitrate management does.
        if (i % 4 == 1 && packet.size() > 8) packet.resize(packet.size() - 1 - i % 3);
        audio.push_back(packet);
    }
    expect_round_trip(vorbis_writer::ogg_file(s, audio));
}

struct ValueModelFixture {
    CodebookSlotTable table;
    std::vector<uint8_t> memory = std::vector<uint8_t>(kResidueMemoryBytes);
    VorbisSetup setup;
    VorbisContext ctx;
    ValueModelFixture() {
        init_slot_table(table, 16, 4);
        prepare_slot_block(table, 15); // the values below use any slot
        ctx.packet_probs = table.packet_probs.data();
        ctx.scratch_large = memory.data();
        ctx.setup = &setup;
    }
};

TEST(ResidueValueTest, ValuesRoundTripAcrossLanesPassesAndSlots) {
    std::mt19937 rng(5);
    struct Call {
        int r4, slot, pass, position, lane, value;
    };
    std::vector<Call> calls;
    for (int i = 0; i < 20000; ++i) {
        const int magnitude = static_cast<int>(rng() % 4 == 0 ? rng() % 512 : rng() % 3);
        calls.push_back({static_cast<int>(rng() % 4), static_cast<int>(rng() % 16),
                         static_cast<int>(rng() % 8), static_cast<int>(rng() % kMaxResiduePosition),
                         static_cast<int>(rng() % 4), rng() % 2 ? -magnitude : magnitude});
    }
    ValueModelFixture packer, unpacker;
    RangeEncoder enc;
    init_encoder(enc);
    Packing p{&enc};
    for (const Call& c : calls)
        ASSERT_EQ(code_residue_value(p, packer.ctx, c.r4, c.slot, c.pass, c.position, c.lane, c.value),
                  c.value);
    flush_encoder(enc);
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    Unpacking u{&dec};
    for (const Call& c : calls)
        ASSERT_EQ(code_residue_value(u, unpacker.ctx, c.r4, c.slot, c.pass, c.position, c.lane, 0), c.value);
    EXPECT_TRUE(packer.memory == unpacker.memory);
    EXPECT_TRUE(packer.table.packet_probs == unpacker.table.packet_probs);
}

TEST(ResidueValueTest, StateOfTheLastValueIsRemembered) {
    ValueModelFixture f;
    RangeEncoder enc;
    init_encoder(enc);
    Packing p{&enc};
    // Reading taken for the open question: the last slot is set after every value, zero ones included.
    code_residue_value(p, f.ctx, 1, 5, 0, 40, 0, -3);
    EXPECT_EQ(f.setup.residue_state.last_slot, 5);
    EXPECT_EQ(f.setup.residue_state.last_class, 2); // magnitude 3: class 0, stored as k + 2
    EXPECT_EQ(f.setup.residue_state.last_nonzero, 1);
    EXPECT_EQ(f.memory[(size_t{1} << 18) + 4 * 40], 128 + 2);
    code_residue_value(p, f.ctx, 1, 9, 2, 40, 2, 0);
    EXPECT_EQ(f.setup.residue_state.last_slot, 9);
    EXPECT_EQ(f.setup.residue_state.last_nonzero, 1) << "only lane 0 changes the lane-0 state";
    code_residue_value(p, f.ctx, 1, 9, 2, 40, 0, 0);
    EXPECT_EQ(f.setup.residue_state.last_nonzero, 0);
    EXPECT_EQ(f.setup.residue_state.last_class, 0);
    code_residue_value(p, f.ctx, 0, 9, 0, 8, 1, 1);
    EXPECT_EQ(f.setup.residue_state.sign_history[1], 0);
    code_residue_value(p, f.ctx, 0, 9, 0, 8, 1, -1);
    EXPECT_EQ(f.setup.residue_state.sign_history[1], 1);
}

TEST(TruncationFieldsTest, ZeroHistoryOfTheCutCodewordModelsFollowsEveryValue) {
    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    CodebookSlotTable table;
    init_slot_table(table, 16, 4);
    VorbisContext ctx;
    ctx.models = models.get();
    ctx.packet_probs = table.packet_probs.data();
    RangeEncoder enc;
    init_encoder(enc);
    Packing p{&enc};
    ctx.truncated_bits = 5;
    ctx.truncated_code = 19;
    code_truncation(p, ctx, false);
    EXPECT_EQ((*models)[kModelTruncatedBits].zero_history, 1);
    EXPECT_EQ((*models)[kModelTruncatedCode].zero_history, 1);
    ctx.truncated_bits = 0;
    ctx.truncated_code = 0;
    code_truncation(p, ctx, true);
    EXPECT_EQ((*models)[kModelTruncatedBits].zero_history, 2);
    EXPECT_EQ((*models)[kModelTruncatedCode].zero_history, 1) << "no code is coded for a zero count";
    flush_encoder(enc);

    auto decoded = std::make_unique<ModelArea>();
    reset_models(*decoded, kModelAreaRecords);
    CodebookSlotTable table2;
    init_slot_table(table2, 16, 4);
    VorbisContext ctx2;
    ctx2.models = decoded.get();
    ctx2.packet_probs = table2.packet_probs.data();
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    Unpacking u{&dec};
    code_truncation(u, ctx2, false);
    EXPECT_EQ(ctx2.truncated_bits, 5);
    EXPECT_EQ(ctx2.truncated_code, 19);
    code_truncation(u, ctx2, true);
    EXPECT_EQ(ctx2.truncated_bits, 0);
    EXPECT_EQ(ctx2.truncation_seen, 0);
}

} // namespace
