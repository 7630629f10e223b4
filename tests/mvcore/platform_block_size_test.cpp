#include "Marvane/Platform/File.h"
#include "process_runner.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace Marvane;

namespace {

bool IsPlausibleSectorSize(u32 size) {
    return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

} // namespace

TEST(PlatformBlockSizeTest, MissingPathIsInvalid) {
    u32 size = 777;
    EXPECT_EQ(Platform::GetDeviceBlockSize(nullptr, size), Error::InvalidParameter);
    EXPECT_EQ(Platform::GetDeviceBlockSize(L"", size), Error::InvalidParameter);
    EXPECT_EQ(size, 777u);
}

TEST(PlatformBlockSizeTest, NewFileLiesOnTheVolumeOfItsDirectory) {
    ScratchDir dir("mvcore-test");
    u32 ofDirectory = 0;
    u32 ofNewFile = 0;
    const Error::Enum result = Platform::GetDeviceBlockSize(dir.path().wstring().c_str(), ofDirectory);
    if (result == Error::IO) GTEST_SKIP() << "no block device behind the temporary directory";
    ASSERT_EQ(result, Error::Ok);
    EXPECT_TRUE(IsPlausibleSectorSize(ofDirectory)) << ofDirectory;
    ASSERT_EQ(Platform::GetDeviceBlockSize(dir.wide_file(L"not-yet/created.bin").c_str(), ofNewFile),
              Error::Ok);
    EXPECT_EQ(ofNewFile, ofDirectory);
}

#if defined(_WIN32)

TEST(PlatformBlockSizeTest, PathWithoutDriveLetterIsInvalid) {
    u32 size = 777;
    EXPECT_EQ(Platform::GetDeviceBlockSize(L"relative\\name.bin", size), Error::InvalidParameter);
    EXPECT_EQ(Platform::GetDeviceBlockSize(L"\\\\server\\share\\x", size), Error::InvalidParameter);
    EXPECT_EQ(Platform::GetDeviceBlockSize(L"C", size), Error::InvalidParameter);
    EXPECT_EQ(size, 777u);
}

TEST(PlatformBlockSizeTest, SystemDriveHasASectorSize) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 2u);
    u32 size = 0;
    ASSERT_EQ(Platform::GetDeviceBlockSize(windows, size), Error::Ok);
    EXPECT_TRUE(IsPlausibleSectorSize(size)) << size;
}

TEST(PlatformBlockSizeTest, DriveWithoutVolumeFails) {
    // Some letter near the end of the alphabet has no volume behind it.
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR) continue;
        u32 size = 777;
        EXPECT_EQ(Platform::GetDeviceBlockSize(root, size), Error::IO);
        EXPECT_EQ(size, 777u);
        return;
    }
    GTEST_SKIP() << "every drive letter is in use";
}

#else

namespace {

// The physical sector size as lsblk, an independent reader of the same kernel data, reports it for the
// device that findmnt says holds the path.
bool LsblkSectorSize(const std::filesystem::path& path, u32& size) {
    const std::filesystem::path findmnt = program_on_path("findmnt"), lsblk = program_on_path("lsblk");
    if (findmnt.empty() || lsblk.empty()) return false;
    ProcessRun source = run_process(findmnt, {"-no", "SOURCE", "--target", path.string()});
    while (!source.out.empty() && (source.out.back() == '\n' || source.out.back() == ' '))
        source.out.pop_back();
    if (source.exit_code != 0 || source.out.empty()) return false;
    const ProcessRun sector = run_process(lsblk, {"-ndo", "PHY-SEC", source.out});
    if (sector.exit_code != 0) return false;
    const unsigned long value = std::strtoul(sector.out.c_str(), nullptr, 10);
    size = static_cast<u32>(value);
    return value != 0;
}

} // namespace

TEST(PlatformBlockSizeTest, AgreesWithLsblk) {
    ScratchDir dir("mvcore-test");
    u32 expected = 0;
    if (!LsblkSectorSize(dir.path(), expected)) GTEST_SKIP() << "lsblk cannot tell";
    u32 size = 0;
    ASSERT_EQ(Platform::GetDeviceBlockSize(dir.path().wstring().c_str(), size), Error::Ok);
    EXPECT_EQ(size, expected);
}

TEST(PlatformBlockSizeTest, RelativePathsResolveAgainstTheWorkingDirectory) {
    u32 absolute = 0;
    u32 relative = 0;
    const Error::Enum result =
        Platform::GetDeviceBlockSize(std::filesystem::current_path().wstring().c_str(), absolute);
    if (result == Error::IO) GTEST_SKIP() << "no block device behind the working directory";
    ASSERT_EQ(Platform::GetDeviceBlockSize(L"some-file-that-does-not-exist", relative), Error::Ok);
    EXPECT_EQ(relative, absolute);
}

TEST(PlatformBlockSizeTest, MemoryFileSystemHasNoDevice) {
    if (!std::filesystem::is_directory("/proc/self")) GTEST_SKIP() << "no /proc";
    u32 size = 777;
    EXPECT_EQ(Platform::GetDeviceBlockSize(L"/proc/self/status", size), Error::IO);
    EXPECT_EQ(size, 777u);
}

#endif
