// A file spliced into itself must end up holding its whole original content at the offset, as if the
// source had been read completely before anything was written.
#include "splice_fixture.h"

#include <cstdio>
#include <filesystem>

namespace splice_test {
namespace {

constexpr std::size_t MiB = 1 << 20;

using SameFileTest = SpliceProgramTest;

TEST_F(SameFileTest, OffsetInsideTheFileCopiesTheOriginalContent) {
    for (const std::size_t offset : {std::size_t{0x10}, MiB - 3, MiB, 2 * MiB + 5}) {
        SCOPED_TRACE(offset);
        const Bytes original = random_bytes(3 * MiB + 7, 31, ByteGenerator::Xorshift);
        write_file(file("self"), original);
        char where[32];
        std::snprintf(where, sizeof(where), "%zX", offset);

        expect_silent_success(splice({file("self"), file("self"), where}));

        EXPECT_EQ(read_file(file("self")), overlaid(original, original, offset));
    }
}

TEST_F(SameFileTest, LenDoublesTheFile) {
    const Bytes original = random_bytes(MiB + 99, 32, ByteGenerator::Xorshift);
    write_file(file("self"), original);

    expect_silent_success(splice({file("self"), file("self"), "len"}));

    EXPECT_EQ(read_file(file("self")), overlaid(original, original, original.size()));
}

TEST_F(SameFileTest, OffsetZeroChangesNothing) {
    const Bytes original = random_bytes(2 * MiB + 1, 33, ByteGenerator::Xorshift);
    write_file(file("self"), original);

    expect_silent_success(splice({file("self"), file("self"), "0"}));

    EXPECT_EQ(read_file(file("self")), original);
}

// Another name for the same file is still the same file.
TEST_F(SameFileTest, HardLinkIsRecognised) {
    const Bytes original = random_bytes(2 * MiB + 11, 34, ByteGenerator::Xorshift);
    write_file(file("self"), original);
    std::error_code error;
    std::filesystem::create_hard_link(file("self"), file("link"), error);
    if (error) GTEST_SKIP() << "no hard links here: " << error.message();

    expect_silent_success(splice({file("self"), file("link"), "100"}));

    EXPECT_EQ(read_file(file("self")), overlaid(original, original, 0x100));
}

} // namespace
} // namespace splice_test
