// Where the source's bytes land, run through the real program.
#include "splice_fixture.h"

#include <filesystem>

namespace splice_test {
namespace {

constexpr std::size_t MiB = 1 << 20;

using PlacementTest = SpliceProgramTest;

TEST_F(PlacementTest, OverwriteInsideTheTargetKeepsItsLength) {
    const Bytes target = random_bytes(64 * 1024, 1, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(1000, 2, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), source);

    expect_silent_success(splice({file("target"), file("source"), "1F0"}));

    EXPECT_EQ(read_file(file("target")), overlaid(target, source, 0x1F0));
}

TEST_F(PlacementTest, OverwriteAcrossTheEndGrowsOnlyAsFarAsNeeded) {
    const Bytes target = random_bytes(100, 3, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(50, 4, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), source);

    expect_silent_success(splice({file("target"), file("source"), "0x5A"}));

    EXPECT_EQ(read_file(file("target")), overlaid(target, source, 0x5A));
    EXPECT_EQ(std::filesystem::file_size(file("target")), 0x5Au + 50u);
}

TEST_F(PlacementTest, LenAppendsKeepingTheOldContentInFront) {
    const Bytes target = random_bytes(12345, 5, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(678, 6, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), source);

    expect_silent_success(splice({file("target"), file("source"), "len"}));

    EXPECT_EQ(read_file(file("target")), overlaid(target, source, target.size()));
}

TEST_F(PlacementTest, MissingTargetWithLenBecomesACopyOfTheSource) {
    const Bytes source = random_bytes(4321, 7, ByteGenerator::Xorshift);
    write_file(file("source"), source);

    expect_silent_success(splice({file("new"), file("source"), "len"}));

    EXPECT_EQ(read_file(file("new")), source);
}

TEST_F(PlacementTest, MissingTargetWithAnOffsetStartsWithZeros) {
    const Bytes source = random_bytes(300, 8, ByteGenerator::Xorshift);
    write_file(file("source"), source);

    expect_silent_success(splice({file("new"), file("source"), "10"}));

    EXPECT_EQ(read_file(file("new")), overlaid(Bytes(16, 0), source, 16));
}

TEST_F(PlacementTest, OffsetPastTheEndFillsTheGapWithZeros) {
    const Bytes target = random_bytes(1000, 9, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(200, 10, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), source);

    expect_silent_success(splice({file("target"), file("source"), "30000"}));

    EXPECT_EQ(read_file(file("target")), overlaid(target, source, 0x30000));
}

// The spellings "%I64X" accepts for one offset all land at the same place.
TEST_F(PlacementTest, PrefixedAndBareHexAreTheSameOffset) {
    const Bytes target = random_bytes(100, 13, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(10, 14, ByteGenerator::Xorshift);
    write_file(file("source"), source);
    for (const char* where : {"0x20", "20", "0X20", " \t0x20 and more", "20g"}) {
        SCOPED_TRACE(where);
        write_file(file("target"), target);
        expect_silent_success(splice({file("target"), file("source"), where}));
        EXPECT_EQ(read_file(file("target")), overlaid(target, source, 32));
    }
}

TEST_F(PlacementTest, EmptySourceLeavesAnExistingTargetAlone) {
    const Bytes target = random_bytes(500, 15, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("empty"), Bytes());

    for (const char* where : {"0", "100", "FFFFF", "len"}) {
        SCOPED_TRACE(where);
        expect_silent_success(splice({file("target"), file("empty"), where}));
        EXPECT_EQ(read_file(file("target")), target);
    }
}

TEST_F(PlacementTest, EmptySourceStillCreatesAMissingTarget) {
    write_file(file("empty"), Bytes());

    expect_silent_success(splice({file("new"), file("empty"), "40"}));

    ASSERT_TRUE(std::filesystem::exists(file("new")));
    EXPECT_EQ(std::filesystem::file_size(file("new")), 0u);
}

// Paths with blanks and characters outside ASCII reach the file system unchanged on every platform.
TEST_F(PlacementTest, UnusualFileNames) {
    const Path target = scratch_.path() / Path(u8"t\u00e4rget with blanks.bin");
    const Path source = scratch_.path() / Path(u8"s\u00f8urce \u20ac \u65e5.bin");
    const Bytes source_bytes = random_bytes(77, 16, ByteGenerator::Xorshift);
    write_file(source, source_bytes);

    expect_silent_success(splice({target, source, "len"}));

    EXPECT_EQ(read_file(target), source_bytes);
}

// Sizes around the 1 MiB chunk: exact multiples, one byte over, one byte short.
class ChunkBoundaryTest : public SpliceProgramTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ChunkBoundaryTest, SourceArrivesWholeInsideALargerTarget) {
    const Bytes target = random_bytes(3 * MiB + 4096, 17, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(GetParam(), 18, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), source);

    expect_silent_success(splice({file("target"), file("source"), "12345"}));

    EXPECT_EQ(read_file(file("target")), overlaid(target, source, 0x12345));
}

TEST_P(ChunkBoundaryTest, SourceArrivesWholeWhenAppended) {
    const Bytes target = random_bytes(999, 19, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(GetParam(), 20, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), source);

    expect_silent_success(splice({file("target"), file("source"), "len"}));

    EXPECT_EQ(read_file(file("target")), overlaid(target, source, target.size()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChunkBoundaryTest,
                         ::testing::Values(1, MiB - 1, MiB, MiB + 1, 2 * MiB, 2 * MiB + 1));

} // namespace
} // namespace splice_test
