// Stream items through the whole archive: talvo-pack's packer models every complete Vorbis stream it
// finds, the unpacker restores the archive, and the result must be the input byte for byte, under every
// setting of the flags byte, for chained streams, for streams among other bytes, and for streams the
// model cannot express (stored raw).

#include "ogg_samples.h"
#include "vorbis_reference.h"
#include "vorbis_stream_writer.h"

#include "ogg/output_sink.h"
#include "pack/packer.h"
#include "unpack/unpacker.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> sample(const std::string& name) {
    return ogg_samples::read_file(ogg_samples::sample_path(name));
}

// Packs, checks the packer's own proof, restores independently and compares.
std::vector<uint8_t> pack_and_restore(const std::vector<uint8_t>& input, uint8_t flags) {
    std::vector<uint8_t> archive;
    PackOptions options;
    options.flags = flags;
    EXPECT_EQ(pack_archive(input.data(), input.size(), archive, options), PackStatus::Ok);
    std::vector<uint8_t> restored;
    OutputSink sink = vector_sink(restored);
    EXPECT_EQ(unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, sink), UnpackStatus::Ok);
    EXPECT_TRUE(restored == input);
    return archive;
}

class FlagsTest : public ::testing::TestWithParam<uint8_t> {
  protected:
    void SetUp() override {
        if (!ogg_samples::encoders_available()) GTEST_SKIP() << "encoders not available in this build";
    }
};

TEST_P(FlagsTest, RealStreamsAreModelledAndRestored) {
    for (const char* name : {"q-1_mono_22k", "q0_mono_8k", "silence_stereo_44k", "long_comment_stereo_44k"}) {
        const auto input = sample(name);
        ASSERT_FALSE(input.empty());
        const auto archive = pack_and_restore(input, GetParam());
        // Stored raw, the archive would be larger than its input.
        EXPECT_LT(archive.size(), input.size()) << name;
    }
}

TEST_P(FlagsTest, StreamsThatModelLargerThanTheyAreAreStoredRaw) {
    // A second of high-quality audio: too short for the models to adapt, so the coded stream would be
    // larger than the stream itself.
    const auto input = sample("q10_stereo_44k");
    ASSERT_FALSE(input.empty());
    const auto archive = pack_and_restore(input, GetParam());
    EXPECT_LE(archive.size(), input.size() + 64);
}

TEST_P(FlagsTest, ChainedStreamsAmongOtherBytesAreRestored) {
    std::vector<uint8_t> input = {'j', 'u', 'n', 'k'};
    for (const char* name :
         {"q3_stereo_44k", "q0_stereo_44k", "ffmpeg_libvorbis_stereo_44k", "q3_surround51_48k"}) {
        const auto part = sample(name);
        input.insert(input.end(), part.begin(), part.end());
    }
    input.insert(input.end(), {'t', 'a', 'i', 'l'});
    pack_and_restore(input, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Flags, FlagsTest, ::testing::Values(uint8_t{0}, uint8_t{8}, uint8_t{1 | 8}));

TEST(CarryOverTest, LaterStreamsStartFromAdaptedStatistics) {
    if (!ogg_samples::encoders_available()) GTEST_SKIP() << "encoders not available in this build";
    // Three different streams: identical ones would be repeat items, which adapt nothing.
    std::vector<uint8_t> input;
    for (const char* name : {"q0_stereo_44k", "q3_stereo_44k", "managed_stereo_44k"}) {
        const auto part = sample(name);
        input.insert(input.end(), part.begin(), part.end());
    }
    const auto fresh = pack_and_restore(input, 0);
    const auto carried = pack_and_restore(input, 8);
    EXPECT_LT(carried.size(), fresh.size());
}

TEST(HeaderCopyTest, AnEarlierStreamsHeaderSetIsCopiedInsteadOfCoded) {
    if (!ogg_samples::encoders_available()) GTEST_SKIP() << "encoders not available in this build";
    const auto one = sample("q0_stereo_44k");
    std::vector<uint8_t> two = one;
    two.insert(two.end(), one.begin(), one.end());
    const auto single = pack_and_restore(one, 0);
    const auto chained = pack_and_restore(two, 0);
    // Models restart with each stream, so the second stream costs what the first did, less its header
    // set (comment and setup, a few kilobytes coded field by field).
    EXPECT_LT(chained.size() + 1000, 2 * single.size());
}

TEST(HeaderCopyTest, ReplayedSetupTailBeyondTheScratchAreaIsRefused) {
    if (!vorbis_reference::available()) GTEST_SKIP() << "libogg not available in this build";
    auto s = vorbis_writer::small_stream(1, 2, 1);
    s.setup_tail = 40000; // coded as one bit when decoded, but a copy replays it into 32,768 bytes
    const auto one = vorbis_writer::ogg_file(s, 10, 1);
    // Other audio under the same setup: the same file twice would be a repeat item instead.
    const auto other = vorbis_writer::ogg_file(s, 10, 2);
    std::vector<uint8_t> two = one;
    two.insert(two.end(), other.begin(), other.end());
    const auto single = pack_and_restore(one, 0);
    EXPECT_LT(single.size() + 30000, one.size());
    const auto chained = pack_and_restore(two, 0);
    EXPECT_GT(chained.size(), single.size() + other.size()) << "the second stream is stored raw";
}

TEST(InexpressibleStreamTest, IsStoredRawAndStillRestored) {
    if (!vorbis_reference::available()) GTEST_SKIP() << "libogg not available in this build";
    auto s = vorbis_writer::small_stream(2, 2, 2);
    s.mappings[0].coupling.clear(); // interleaved residue with a channel the codec does not code
    auto input = vorbis_writer::ogg_file(s, 40, 7);
    const auto good = vorbis_writer::ogg_file(vorbis_writer::small_stream(1, 2, 1), 40, 8);
    const size_t bad_size = input.size();
    input.insert(input.end(), good.begin(), good.end());
    const auto archive = pack_and_restore(input, 0);
    EXPECT_GT(archive.size(), bad_size) << "the first stream is stored as it is";

    // Between modelled streams, with statistics carried over: each attempt is taken back, the second
    // time into the models and slot table that the first take-back left, and the streams after it are
    // still modelled from the state the unpacker has.
    std::vector<uint8_t> goods, mixed;
    for (uint32_t seed = 20; seed < 23; ++seed) {
        const auto modelled = vorbis_writer::ogg_file(vorbis_writer::small_stream(2, 2, 2), 40, seed);
        goods.insert(goods.end(), modelled.begin(), modelled.end());
        mixed.insert(mixed.end(), modelled.begin(), modelled.end());
        if (seed < 22) {
            const auto refused = vorbis_writer::ogg_file(s, 40, seed + 10);
            mixed.insert(mixed.end(), refused.begin(), refused.end());
        }
    }
    const size_t refused_bytes = mixed.size() - goods.size();
    for (const uint8_t flags : {uint8_t{8}, uint8_t{1 | 8}}) {
        SCOPED_TRACE(flags);
        const auto alone = pack_and_restore(goods, flags);
        ASSERT_LT(alone.size(), goods.size() * 9 / 10);
        EXPECT_LE(pack_and_restore(mixed, flags).size(), alone.size() + refused_bytes + 64);
    }
}

} // namespace
