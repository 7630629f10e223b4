#include "Marvane/Platform/File.h"
#include "Marvane/Platform/Memory.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

using namespace Marvane;
using Platform::InvalidFileHandle;

namespace {

std::vector<unsigned char> Pattern(std::size_t size, unsigned seed = 7) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>((i * 131 + seed) & 0xFF);
    return bytes;
}

// Reads a file with the standard library, independently of the layer under test.
std::vector<unsigned char> Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void Store(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

TEST(PlatformFileTest, MissingFileForReadingFailsWithInvalidHandle) {
    ScratchDir dir("mvcore-test");
    void* handle = nullptr;
    EXPECT_EQ(Platform::OpenFile(dir.wide_file(L"missing.bin").c_str(), false, false, handle), Error::IO);
    EXPECT_EQ(handle, InvalidFileHandle());
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.bin"));
    EXPECT_EQ(Platform::OpenFile(nullptr, false, false, handle), Error::IO);
    EXPECT_EQ(handle, InvalidFileHandle());
}

TEST(PlatformFileTest, DirectoryIsNoFile) {
    ScratchDir dir("mvcore-test");
    void* handle = nullptr;
    EXPECT_EQ(Platform::OpenFile(dir.path().wstring().c_str(), false, false, handle), Error::IO);
    EXPECT_EQ(handle, InvalidFileHandle());
}

TEST(PlatformFileTest, WritingCreatesAndTruncates) {
    ScratchDir dir("mvcore-test");
    const std::wstring name = dir.wide_file(L"out.bin");
    auto data = Pattern(100);
    void* handle = nullptr;
    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, true, handle), Error::Ok);
    EXPECT_EQ(Platform::WriteFile(handle, data.data(), data.size()), Error::Ok);
    EXPECT_EQ(Platform::CloseFile(handle), Error::Ok);
    EXPECT_EQ(Contents(dir / "out.bin"), data);

    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, true, handle), Error::Ok);
    EXPECT_EQ(Platform::CloseFile(handle), Error::Ok);
    EXPECT_EQ(std::filesystem::file_size(dir / "out.bin"), 0u);
}

TEST(PlatformFileTest, ShortReadReportsCountAndFails) {
    ScratchDir dir("mvcore-test");
    const auto data = Pattern(60);
    Store(dir / "sixty.bin", data);
    void* handle = nullptr;
    ASSERT_EQ(Platform::OpenFile(dir.wide_file(L"sixty.bin").c_str(), false, false, handle), Error::Ok);
    std::vector<unsigned char> buffer(100, 0xEE);
    u32 read = 12345;
    EXPECT_EQ(Platform::ReadFile(handle, buffer.data(), 100, read), Error::IO);
    EXPECT_EQ(read, 60u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
    EXPECT_EQ(buffer[60], 0xEE);
    // At the end nothing more comes.
    EXPECT_EQ(Platform::ReadFile(handle, buffer.data(), 1, read), Error::IO);
    EXPECT_EQ(read, 0u);
    Platform::CloseFile(handle);
}

TEST(PlatformFileTest, ReadsContinueAndSeekMovesThePosition) {
    ScratchDir dir("mvcore-test");
    const auto data = Pattern(1000, 3);
    Store(dir / "data.bin", data);
    void* handle = nullptr;
    ASSERT_EQ(Platform::OpenFile(dir.wide_file(L"data.bin").c_str(), false, false, handle), Error::Ok);
    std::vector<unsigned char> first(300), second(700);
    u32 read = 0;
    ASSERT_EQ(Platform::ReadFile(handle, first.data(), 300, read), Error::Ok);
    EXPECT_EQ(read, 300u);
    ASSERT_EQ(Platform::ReadFile(handle, second.data(), 700, read), Error::Ok);
    EXPECT_EQ(read, 700u);
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(first, data);

    u64 offset = 517;
    ASSERT_EQ(Platform::SeekFile(handle, offset), Error::Ok);
    EXPECT_EQ(offset, 517u);
    unsigned char byte = 0;
    ASSERT_EQ(Platform::ReadFile(handle, &byte, 1, read), Error::Ok);
    EXPECT_EQ(byte, data[517]);

    offset = 5000; // past the end: allowed, but nothing can be read there
    EXPECT_EQ(Platform::SeekFile(handle, offset), Error::Ok);
    EXPECT_EQ(Platform::ReadFile(handle, &byte, 1, read), Error::IO);
    EXPECT_EQ(read, 0u);

    EXPECT_EQ(Platform::ReadFile(handle, nullptr, 0, read), Error::Ok);
    EXPECT_EQ(read, 0u);
    Platform::CloseFile(handle);
}

TEST(PlatformFileTest, ZeroSizeAndNullArgumentsAreRefusedWithoutTouchingTheFile) {
    ScratchDir dir("mvcore-test");
    const std::wstring name = dir.wide_file(L"w.bin");
    void* handle = nullptr;
    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, true, handle), Error::Ok);
    auto data = Pattern(10);
    ASSERT_EQ(Platform::WriteFile(handle, data.data(), 4), Error::Ok);
    EXPECT_EQ(Platform::WriteFile(handle, data.data(), 0), Error::InvalidParameter);
    EXPECT_EQ(Platform::WriteFile(handle, nullptr, 5), Error::InvalidParameter);
    EXPECT_EQ(Platform::WriteFile(nullptr, data.data(), 5), Error::InvalidParameter);
    EXPECT_EQ(Platform::WriteFile(InvalidFileHandle(), data.data(), 5), Error::IO);
    ASSERT_EQ(Platform::WriteFile(handle, data.data() + 4, 6), Error::Ok);
    Platform::CloseFile(handle);
    EXPECT_EQ(Contents(dir / "w.bin"), data);
}

TEST(PlatformFileTest, InvalidHandlesFailCleanly) {
    u32 read = 99;
    unsigned char byte = 0;
    EXPECT_EQ(Platform::ReadFile(InvalidFileHandle(), &byte, 1, read), Error::IO);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(Platform::ReadFile(nullptr, &byte, 1, read), Error::IO);
    u64 offset = 0;
    EXPECT_EQ(Platform::SeekFile(InvalidFileHandle(), offset), Error::IO);
    EXPECT_EQ(Platform::CloseFile(InvalidFileHandle()), Error::Ok);
    EXPECT_EQ(Platform::CloseFile(nullptr), Error::Ok);
}

TEST(PlatformFileTest, WrittenDataReadsBackAfterSeeking) {
    ScratchDir dir("mvcore-test");
    const std::wstring name = dir.wide_file(L"rw.bin");
    auto data = Pattern(4096 * 3 + 17, 11);
    void* handle = nullptr;
    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, true, handle), Error::Ok);
    ASSERT_EQ(Platform::WriteFile(handle, data.data(), data.size()), Error::Ok);
    // Overwrite a piece in the middle.
    u64 offset = 100;
    ASSERT_EQ(Platform::SeekFile(handle, offset), Error::Ok);
    auto patch = Pattern(50, 99);
    ASSERT_EQ(Platform::WriteFile(handle, patch.data(), patch.size()), Error::Ok);
    Platform::CloseFile(handle);
    std::copy(patch.begin(), patch.end(), data.begin() + 100);
    EXPECT_EQ(Contents(dir / "rw.bin"), data);

    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, false, handle), Error::Ok);
    std::vector<unsigned char> back(data.size());
    u32 read = 0;
    ASSERT_EQ(Platform::ReadFile(handle, back.data(), static_cast<u32>(back.size()), read), Error::Ok);
    EXPECT_EQ(back, data);
    Platform::CloseFile(handle);
}

TEST(PlatformFileTest, WriterExcludesOthersAndReadersShare) {
    ScratchDir dir("mvcore-test");
    const std::wstring name = dir.wide_file(L"shared.bin");
    void* writer = nullptr;
    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, true, writer), Error::Ok);
    auto data = Pattern(32);
    ASSERT_EQ(Platform::WriteFile(writer, data.data(), data.size()), Error::Ok);
    void* other = nullptr;
    EXPECT_EQ(Platform::OpenFile(name.c_str(), false, false, other), Error::IO);
    EXPECT_EQ(other, InvalidFileHandle());
    EXPECT_EQ(Platform::OpenFile(name.c_str(), false, true, other), Error::IO);
    Platform::CloseFile(writer);
    // The refused writer must not have truncated the file.
    EXPECT_EQ(Contents(dir / "shared.bin"), data);

    void* reader1 = nullptr;
    void* reader2 = nullptr;
    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, false, reader1), Error::Ok);
    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, false, reader2), Error::Ok);
    EXPECT_EQ(Platform::OpenFile(name.c_str(), false, true, other), Error::IO);
    Platform::CloseFile(reader1);
    Platform::CloseFile(reader2);
    EXPECT_EQ(Contents(dir / "shared.bin"), data);
}

TEST(PlatformFileTest, NonAsciiNamesReachTheSameFile) {
    ScratchDir dir("mvcore-test");
    // Latin, CJK and a character outside the basic plane (a surrogate pair in UTF-16).
    const std::wstring wide = L"d\u00e9j\u00e0-\u4e2d-\U0001F600.bin";
    const std::filesystem::path narrow =
        dir / std::filesystem::path(u8"d\u00e9j\u00e0-\u4e2d-\U0001F600.bin");
    auto data = Pattern(77);
    void* handle = nullptr;
    ASSERT_EQ(Platform::OpenFile(dir.wide_file(wide).c_str(), false, true, handle), Error::Ok);
    ASSERT_EQ(Platform::WriteFile(handle, data.data(), data.size()), Error::Ok);
    Platform::CloseFile(handle);
    EXPECT_EQ(Contents(narrow), data);
}

TEST(PlatformFileTest, UnbufferedTransfersWithSectorAlignment) {
    ScratchDir dir("mvcore-test");
    u32 sector = 0;
    if (Platform::GetDeviceBlockSize(dir.wide_file(L"unbuffered.bin").c_str(), sector) != Error::Ok)
        GTEST_SKIP() << "no block device behind the temporary directory";
    ASSERT_GE(sector, 512u);
    const u64 alignment = sector < 4096 ? 4096 : sector;
    const u64 size = alignment * 4;
    auto* buffer = static_cast<unsigned char*>(Platform::AlignedAlloc(size, alignment));
    ASSERT_NE(buffer, nullptr);
    auto data = Pattern(size, 5);
    std::copy(data.begin(), data.end(), buffer);

    const std::wstring name = dir.wide_file(L"unbuffered.bin");
    void* handle = nullptr;
    if (Platform::OpenFile(name.c_str(), true, true, handle) != Error::Ok) {
        Platform::AlignedFree(buffer);
        GTEST_SKIP() << "the file system refuses unbuffered access";
    }
    EXPECT_EQ(Platform::WriteFile(handle, buffer, size), Error::Ok);
    Platform::CloseFile(handle);

    Platform::MemoryClear(buffer, size);
    ASSERT_EQ(Platform::OpenFile(name.c_str(), true, false, handle), Error::Ok);
    u64 offset = alignment;
    ASSERT_EQ(Platform::SeekFile(handle, offset), Error::Ok);
    u32 read = 0;
    // Asking for more than is left: the unbuffered read stops at the end of the file.
    EXPECT_EQ(Platform::ReadFile(handle, buffer, static_cast<u32>(size), read), Error::IO);
    EXPECT_EQ(read, size - alignment);
    EXPECT_TRUE(std::equal(data.begin() + static_cast<std::ptrdiff_t>(alignment), data.end(), buffer));
    Platform::CloseFile(handle);
    Platform::AlignedFree(buffer);
}

#if !defined(_WIN32)
// POSIX file names are UTF-8; a wide name holding no Unicode text has no such name.
TEST(PlatformFileTest, NameWithALoneSurrogateCannotBeOpened) {
    ScratchDir dir("mvcore-test");
    const std::wstring name = dir.wide_file(std::wstring{L'a', static_cast<wchar_t>(0xDC00), L'b'});
    void* handle = nullptr;
    EXPECT_EQ(Platform::OpenFile(name.c_str(), false, true, handle), Error::IO);
    EXPECT_EQ(handle, InvalidFileHandle());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}
#endif

#if defined(_WIN32)
// The handles are ordinary synchronous handles: a client's own synchronous Win32 calls on them work and
// share the position with the library's functions.
TEST(PlatformFileTest, HandlesServeTheClientsOwnSynchronousWin32Calls) {
    ScratchDir dir("mvcore-test");
    const std::wstring name = dir.wide_file(L"sync.bin");
    void* handle = nullptr;
    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, true, handle), Error::Ok);
    char head[] = "head";
    ASSERT_EQ(Platform::WriteFile(handle, head, 4), Error::Ok);
    DWORD moved = 0;
    EXPECT_TRUE(::WriteFile(static_cast<HANDLE>(handle), "-client-", 8, &moved, nullptr));
    EXPECT_EQ(moved, 8u);
    char tail[] = "tail";
    ASSERT_EQ(Platform::WriteFile(handle, tail, 4), Error::Ok);
    Platform::CloseFile(handle);
    const auto written = Contents(dir.path() / "sync.bin");
    EXPECT_EQ(std::string(written.begin(), written.end()), "head-client-tail");

    ASSERT_EQ(Platform::OpenFile(name.c_str(), false, false, handle), Error::Ok);
    char first[4] = {};
    EXPECT_TRUE(::ReadFile(static_cast<HANDLE>(handle), first, 4, &moved, nullptr));
    EXPECT_EQ(std::string(first, moved), "head");
    char next[8] = {};
    u32 read = 0;
    EXPECT_EQ(Platform::ReadFile(handle, next, 8, read), Error::Ok);
    EXPECT_EQ(std::string(next, read), "-client-");
    Platform::CloseFile(handle);
}
#endif
