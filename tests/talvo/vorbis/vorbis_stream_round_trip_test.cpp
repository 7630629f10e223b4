// Whole logical streams of real encoders through both directions: the packer models the original pages
// into the three sub-streams, the unpacker rebuilds them, and the result must equal the original byte
// for byte. Every field coder, context and predictor of the Vorbis codecs takes part, so a difference
// between the directions shows up as a mismatch.

#include "ogg_samples.h"
#include "vorbis_reference.h"

#include "stream_round_trip.h"

#include <gtest/gtest.h>

namespace {

using namespace stream_round_trip;

class StreamRoundTripTest : public ::testing::TestWithParam<std::string> {};

TEST_P(StreamRoundTripTest, RealStreamComesBackByteForByte) {
    if (!ogg_samples::encoders_available()) GTEST_SKIP() << "encoders not available in this build";
    const std::vector<uint8_t> file = ogg_samples::read_file(ogg_samples::sample_path(GetParam()));
    ASSERT_FALSE(file.empty());
    LongLived packer, unpacker;
    Archive archive;
    const PackResult packed = pack(packer, file, archive);
    ASSERT_TRUE(packed.ok) << "inexpressible: " << packed.inexpressible;
    std::vector<uint8_t> out;
    ASSERT_TRUE(unpack(unpacker, archive, out));
    ASSERT_EQ(out.size(), file.size());
    size_t first = 0;
    while (first < out.size() && out[first] == file[first])
        ++first;
    EXPECT_EQ(first, file.size()) << "first difference at byte " << first;
    const size_t coded = archive.size();
    std::printf("%s: %zu -> %zu bytes (data %zu, page %zu, aux %zu)\n", GetParam().c_str(), file.size(),
                coded, archive.data.size(), archive.page.size(), archive.aux.size());
}

INSTANTIATE_TEST_SUITE_P(Encoders, StreamRoundTripTest, ::testing::ValuesIn(ogg_samples::sample_names()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             std::string name = param.param;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

} // namespace
