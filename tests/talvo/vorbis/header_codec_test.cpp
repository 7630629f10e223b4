// The header codec: setups real encoders write come back exactly (see the round-trip tests); here, every
// setup the codecs cannot carry safely is refused as a whole stream, and a few accepted corner cases
// come back byte for byte.

#include "stream_round_trip.h"
#include "vorbis_reference.h"
#include "vorbis_stream_writer.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace stream_round_trip;
using vorbis_writer::Stream;

bool tools() {
    return vorbis_reference::available();
}

PackResult pack_stream(const Stream& s, std::vector<uint8_t>* out = nullptr) {
    const auto file = vorbis_writer::ogg_file(s, 12, 3);
    LongLived packer;
    Archive archive;
    const PackResult result = pack(packer, file, archive);
    if (out && result.ok) {
        LongLived unpacker;
        EXPECT_TRUE(unpack(unpacker, archive, *out));
        EXPECT_TRUE(*out == file);
    }
    return result;
}

struct Refusal {
    const char* name;
    std::function<void(Stream&)> change;
};

class SetupRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(SetupRefusalTest, StreamIsRefusedAsAWhole) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    Stream s = vorbis_writer::small_stream(2, 2, 1);
    GetParam().change(s);
    const PackResult result = pack_stream(s);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.inexpressible) << "refused as a setup the model cannot carry";
}

// An archive that describes a refused setup (the packing direction codes up to the field that refuses
// it): the unpacker fails the stream as damaged, not as inexpressible, and reports a floor of type 0.
TEST(RefusedSetupArchiveTest, UnpackingFailsTheStreamAsDamaged) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    Stream s = vorbis_writer::small_stream(2, 2, 1);
    s.floors[0].type = 0;
    LongLived packer;
    Archive archive;
    const PackResult packed = pack(packer, vorbis_writer::ogg_file(s, 12, 3), archive);
    ASSERT_FALSE(packed.ok);
    ASSERT_TRUE(packed.inexpressible);
    LongLived unpacker;
    std::vector<uint8_t> out;
    UnpackDetails details;
    EXPECT_FALSE(unpack(unpacker, archive, out, &details));
    EXPECT_TRUE(details.damaged);
    EXPECT_FALSE(details.inexpressible);
    EXPECT_EQ(details.events, std::vector<CodecEvent>{CodecEvent::FloorType0});
}

const Refusal refusals[] = {
    {"MoreThanFourFloors", [](Stream& s) { s.floors.assign(5, s.floors[0]); }},
    {"FloorTypeZero", [](Stream& s) { s.floors[0].type = 0; }},
    {"EqualFloorPositions",
     [](Stream& s) {
         s.floors[0].x = {32, 32, 16, 96};
     }},
    {"SparseFloorBook",
     [](Stream& s) {
         s.books[0].sparse = true;
         s.books[0].lengths.assign(128, 0);
         for (int e = 0; e < 16; ++e)
             s.books[0].lengths[static_cast<size_t>(e * 8)] = 4;
     }},
    {"SparseClassBook",
     [](Stream& s) {
         s.books[1].entries = 20;
         s.books[1].sparse = true;
         s.books[1].lengths.assign(20, 0);
         for (int e = 0; e < 4; ++e)
             s.books[1].lengths[static_cast<size_t>(e)] = 2;
     }},
    {"SeventeenClassifications",
     [](Stream& s) {
         s.books[1].entries = 289;
         s.books[1].lengths.assign(289, 9);
         s.residues[0].classifications = 17;
         s.residues[0].books.assign(17, {2, -1, -1, -1, -1, -1, -1, -1});
     }},
    {"ResidueEndBeforeBegin",
     [](Stream& s) {
         s.residues[0].begin = 32;
         s.residues[0].end = 16;
     }},
    {"ResiduePositionsBeyondTheMemory", [](Stream& s) { s.residues[0].end = 8208; }},
    {"MoreCouplingStepsThanChannels",
     [](Stream& s) {
         s.mappings[0].coupling = {{0, 1}, {1, 0}, {0, 1}};
     }},
    {"CodewordsLongerThan32Bits",
     [](Stream& s) {
         vorbis_writer::Book deep;
         deep.ordered = true;
         for (int l = 1; l <= 33; ++l)
             deep.lengths.push_back(static_cast<uint8_t>(l));
         deep.lengths.push_back(33);
         deep.entries = static_cast<int>(deep.lengths.size());
         s.books.push_back(deep);
     }},
    {"ResidueBookWithoutTupleTable",
     [](Stream& s) {
         s.books[2].lookup_type = 2;
         s.books[2].values.assign(18, 1);
     }},
    {"SequenceBookInInterleavedResidue",
     [](Stream& s) {
         s.residues[0].type = 2;
         s.books[2].sequence_p = true;
     }},
};

INSTANTIATE_TEST_SUITE_P(Setups, SetupRefusalTest, ::testing::ValuesIn(refusals),
                         [](const ::testing::TestParamInfo<Refusal>& param) {
                             return std::string(param.param.name);
                         });

TEST(SetupAcceptanceTest, SequenceBookInAPlainResidueComesBack) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    Stream s = vorbis_writer::small_stream(1, 2, 1);
    s.books[2].sequence_p = true;
    std::vector<uint8_t> out;
    EXPECT_TRUE(pack_stream(s, &out).ok);
}

TEST(SetupAcceptanceTest, OrderedAndSparseBooksAndMiddleOutLookupValuesComeBack) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    Stream s = vorbis_writer::small_stream(1, 2, 1);
    vorbis_writer::Book ordered; // lengths as runs, with an empty run of length 4
    ordered.ordered = true;
    ordered.lengths = {1, 2, 3, 5, 5, 5, 5};
    ordered.entries = 7;
    vorbis_writer::Book sparse; // 3 of 40 entries
    sparse.sparse = true;
    sparse.entries = 40;
    sparse.lengths.assign(40, 0);
    sparse.lengths[3] = 1;
    sparse.lengths[17] = 2;
    sparse.lengths[39] = 2;
    vorbis_writer::Book middle_out; // stored values in the order the prediction expects: residuals 0
    middle_out.entries = 5;
    middle_out.lengths.assign(5, 3);
    middle_out.lookup_type = 1;
    middle_out.values = {2, 1, 3, 0, 4};
    middle_out.value_bits = 3;
    s.books.push_back(ordered);
    s.books.push_back(sparse);
    s.books.push_back(middle_out);
    std::vector<uint8_t> out;
    EXPECT_TRUE(pack_stream(s, &out).ok);
}

TEST(SetupAcceptanceTest, FourFloorsAndSeveralSubmapsComeBack) {
    if (!tools()) GTEST_SKIP() << "libogg not available in this build";
    Stream s = vorbis_writer::small_stream(2, 2, 1);
    s.floors.assign(4, s.floors[0]);
    s.floors[3].multiplier = 3;
    s.residues.push_back(s.residues[0]);
    s.mappings[0].submaps = 2;
    s.mappings[0].mux = {0, 1};
    s.mappings[0].floor = {3, 1};
    s.mappings[0].residue = {1, 0};
    std::vector<uint8_t> out;
    EXPECT_TRUE(pack_stream(s, &out).ok);
}

} // namespace
