// Offsets and lengths past 4 GiB. The files are sparse, so they cost little disk space where the file
// system supports that; the tests skip only where the space for a fully allocated file is missing too.
#include "splice_fixture.h"

#include <filesystem>

namespace splice_test {
namespace {

constexpr std::uint64_t four_GiB = 0x100000000ull;

using LargeFileTest = SpliceProgramTest;

bool room_for(const Path& directory, std::uint64_t size) {
    std::error_code error;
    const auto space = std::filesystem::space(directory, error);
    return !error && space.available > size + (64ull << 20);
}

TEST_F(LargeFileTest, OffsetBeyondFourGiB) {
    const std::uint64_t offset = four_GiB + 0x10;
    if (!room_for(scratch_.path(), offset)) GTEST_SKIP() << "no room for a file past 4 GiB here";
    const Bytes target = random_bytes(4096, 21, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(3000, 22, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), source);

    expect_silent_success(splice({file("target"), file("source"), "100000010"}));

    EXPECT_EQ(std::filesystem::file_size(file("target")), offset + source.size());
    EXPECT_EQ(read_range(file("target"), 0, target.size()), target);
    EXPECT_EQ(read_range(file("target"), offset, source.size()), source);
    EXPECT_EQ(read_range(file("target"), offset - 16, 16), Bytes(16, 0));
    // A 32-bit position would have wrapped to 0x10 and overwritten the old content there.
    EXPECT_EQ(read_range(file("target"), 0x10, 64), Bytes(target.begin() + 0x10, target.begin() + 0x50));
}

TEST_F(LargeFileTest, LenAppendsToATargetLargerThanFourGiB) {
    const std::uint64_t old_size = four_GiB + 5;
    if (!room_for(scratch_.path(), old_size)) GTEST_SKIP() << "no room for a file past 4 GiB here";
    const Bytes head = random_bytes(100, 23, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(2000, 24, ByteGenerator::Xorshift);
    write_file(file("target"), head);
    std::filesystem::resize_file(file("target"), old_size);
    write_file(file("source"), source);

    expect_silent_success(splice({file("target"), file("source"), "len"}));

    EXPECT_EQ(std::filesystem::file_size(file("target")), old_size + source.size());
    EXPECT_EQ(read_range(file("target"), 0, head.size()), head);
    EXPECT_EQ(read_range(file("target"), old_size, source.size()), source);
    EXPECT_EQ(read_range(file("target"), old_size - 5, 5), Bytes(5, 0));
}

} // namespace
} // namespace splice_test
