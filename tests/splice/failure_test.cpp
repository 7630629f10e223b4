// Every way a run can fail: the exit code, a message on standard error, and files left as they were.
#include "splice_fixture.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace splice_test {
namespace {

using FailureTest = SpliceProgramTest;

constexpr int file_problem = 1;
constexpr int usage_problem = 2;

TEST_F(FailureTest, WrongArgumentCountPrintsUsageAndCreatesNothing) {
    write_file(file("source"), random_bytes(10, 1, ByteGenerator::Xorshift));
    const std::vector<std::vector<Path>> argument_lists = {
        {},
        {file("new")},
        {file("new"), file("source")},
        {file("new"), file("source"), "0", "extra"},
    };
    for (const auto& arguments : argument_lists) {
        SCOPED_TRACE(arguments.size());
        expect_failure(splice(arguments), usage_problem, "usage: splice TARGET SOURCE WHERE");
        EXPECT_FALSE(std::filesystem::exists(file("new")));
    }
}

TEST_F(FailureTest, UnreadableOffsetIsRejectedBeforeAnyFileIsTouched) {
    const Bytes target = random_bytes(64, 2, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), random_bytes(10, 3, ByteGenerator::Xorshift));
    for (const char* where : {"", " ", "LEN", "Len", "len ", "xyz", "g10", "-10", "+10", "0x", "0xZ", " 0x g",
                              "10000000000000000", "0x1FFFFFFFFFFFFFFFF"}) {
        SCOPED_TRACE(where);
        expect_failure(splice({file("target"), file("source"), where}), usage_problem, "invalid offset");
        expect_failure(splice({file("new"), file("source"), where}), usage_problem, "invalid offset");
        EXPECT_EQ(read_file(file("target")), target);
        EXPECT_FALSE(std::filesystem::exists(file("new")));
    }
}

TEST_F(FailureTest, MissingSourceCreatesAndChangesNothing) {
    const Bytes target = random_bytes(64, 4, ByteGenerator::Xorshift);
    write_file(file("target"), target);

    expect_failure(splice({file("new"), file("absent"), "len"}), file_problem, "cannot open source");
    expect_failure(splice({file("target"), file("absent"), "0"}), file_problem, "cannot open source");

    EXPECT_FALSE(std::filesystem::exists(file("new")));
    EXPECT_EQ(read_file(file("target")), target);
}

// A directory cannot be read as a source (POSIX opens it and fails the read; Windows fails the open).
TEST_F(FailureTest, DirectoryAsSourceCreatesAndChangesNothing) {
    const Bytes target = random_bytes(64, 5, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    std::filesystem::create_directory(file("folder"));

    expect_failure(splice({file("new"), file("folder"), "0"}), file_problem, "source");
    expect_failure(splice({file("target"), file("folder"), "0"}), file_problem, "source");

    EXPECT_FALSE(std::filesystem::exists(file("new")));
    EXPECT_EQ(read_file(file("target")), target);
}

TEST_F(FailureTest, DirectoryAsTargetIsReportedAndLeftAlone) {
    write_file(file("source"), random_bytes(64, 6, ByteGenerator::Xorshift));
    std::filesystem::create_directory(file("folder"));

    expect_failure(splice({file("folder"), file("source"), "0"}), file_problem, "cannot open target");
    expect_failure(splice({file("folder"), file("source"), "len"}), file_problem, "cannot open target");

    EXPECT_TRUE(std::filesystem::is_directory(file("folder")));
    EXPECT_TRUE(std::filesystem::is_empty(file("folder")));
}

TEST_F(FailureTest, TargetInAMissingDirectoryCannotBeCreated) {
    write_file(file("source"), random_bytes(64, 7, ByteGenerator::Xorshift));

    expect_failure(splice({file("absent") / "new", file("source"), "0"}), file_problem,
                   "cannot create target");

    EXPECT_FALSE(std::filesystem::exists(file("absent")));
}

// An offset (plus the source length) that no file position can hold fails before writing anything, and
// a target created for the run is removed again.
TEST_F(FailureTest, OffsetBeyondTheLargestFilePosition) {
    const Bytes target = random_bytes(64, 8, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), random_bytes(100, 9, ByteGenerator::Xorshift));
    for (const char* where : {"FFFFFFFFFFFFFFFF", "8000000000000000", "7FFFFFFFFFFFFFF0"}) {
        SCOPED_TRACE(where);
        expect_failure(splice({file("target"), file("source"), where}), file_problem,
                       "largest file position");
        expect_failure(splice({file("new"), file("source"), where}), file_problem, "largest file position");
        EXPECT_EQ(read_file(file("target")), target);
        EXPECT_FALSE(std::filesystem::exists(file("new")));
    }
}

// Positions that fit 64 bits but exceed what the file system stores: the seek or the write fails.
TEST_F(FailureTest, OffsetTheFileSystemCannotHold) {
    std::error_code too_large;
    write_file(file("probe"), Bytes());
    std::filesystem::resize_file(file("probe"), 0x7FFFFFFFFFFF0064ull, too_large);
    if (!too_large) GTEST_SKIP() << "this file system holds files of nearly 8 EiB";
    const Bytes target = random_bytes(64, 10, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), random_bytes(100, 11, ByteGenerator::Xorshift));

    expect_failure(splice({file("target"), file("source"), "7FFFFFFFFFFF0000"}), file_problem, "target");
    expect_failure(splice({file("new"), file("source"), "7FFFFFFFFFFF0000"}), file_problem, "target");

    EXPECT_EQ(read_file(file("target")), target);
    EXPECT_FALSE(std::filesystem::exists(file("new")));
}

#ifdef _WIN32
// Another process holds the target open and denies writers: splice must not fall back to re-creating it.
TEST_F(FailureTest, TargetLockedByAnotherProcessIsLeftAlone) {
    const Bytes target = random_bytes(4096, 12, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), random_bytes(64, 13, ByteGenerator::Xorshift));
    const HANDLE lock = CreateFileW(file("target").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    const ProcessRun result = splice({file("target"), file("source"), "10"});
    CloseHandle(lock);

    expect_failure(result, file_problem, "cannot open target");
    EXPECT_EQ(read_file(file("target")), target);
}
#else
// A file its user may write but not read cannot be opened for update; creating it afresh would have
// emptied it. Root may read anything, so a root test run drops to an unprivileged id for the child.
TEST_F(FailureTest, WriteOnlyTargetIsNotTruncated) {
    const Bytes target = random_bytes(4096, 14, ByteGenerator::Xorshift);
    write_file(file("target"), target);
    write_file(file("source"), random_bytes(64, 15, ByteGenerator::Xorshift));
    ProcessOptions options;
    if (::geteuid() == 0) {
        options.run_as_id = 65534;
        ASSERT_EQ(::chown(file("target").c_str(), 65534, 65534), 0);
        std::filesystem::permissions(scratch_.path(), std::filesystem::perms::all);
        std::filesystem::permissions(file("source"), std::filesystem::perms::all);
    }
    ::chmod(file("target").c_str(), S_IWUSR);

    const ProcessRun result = splice({file("target"), file("source"), "10"}, options);
    if (!result.started) GTEST_SKIP() << "cannot run splice unprivileged: " << result.start_error;

    expect_failure(result, file_problem, "cannot open target");
    ::chmod(file("target").c_str(), S_IRUSR | S_IWUSR);
    EXPECT_EQ(read_file(file("target")), target);
}

// The device that is always full turns every write into a failure, which must be reported.
TEST_F(FailureTest, FailedWriteIsReported) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (const std::size_t size : {std::size_t{10}, std::size_t{3} << 20}) {
        SCOPED_TRACE(size);
        write_file(file("source"), random_bytes(size, 16, ByteGenerator::Xorshift));
        expect_failure(splice({"/dev/full", file("source"), "0"}), file_problem, "cannot write target");
    }
}
#endif

} // namespace
} // namespace splice_test
