#include "Marvane/Platform/DynamicLibrary.h"
#include "process_runner.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace Marvane;

// The test plugin (built beside this test) exports one C function.
namespace {

// On Windows the plugin lies beside the test program; elsewhere its full path is compiled in.
std::wstring PluginFile() {
#if defined(_WIN32)
    return (this_program().parent_path() / MVCORE_TEST_PLUGIN).wstring();
#else
    return std::filesystem::path(MVCORE_TEST_PLUGIN).wstring();
#endif
}

const std::wstring PluginPath = PluginFile();
using AnswerFunction = int (*)();

void ExpectAnswer(void* library) {
    void (*address)() = nullptr;
    ASSERT_EQ(Platform::GetDynamicLibraryProcAddress(library, L"MarvaneTestPluginAnswer", &address),
              Error::Ok);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(reinterpret_cast<AnswerFunction>(address)(), 42);
}

} // namespace

TEST(PlatformLibraryTest, LoadsLooksUpAndUnloads) {
    void* library = nullptr;
    ASSERT_EQ(Platform::LoadDynamicLibrary(PluginPath.c_str(), library), Error::Ok);
    ASSERT_NE(library, nullptr);
    ExpectAnswer(library);
    EXPECT_EQ(Platform::UnloadDynamicLibrary(library), Error::Ok);
}

TEST(PlatformLibraryTest, MissingSymbolStoresNull) {
    void* library = nullptr;
    ASSERT_EQ(Platform::LoadDynamicLibrary(PluginPath.c_str(), library), Error::Ok);
    void (*address)() = reinterpret_cast<void (*)()>(&ExpectAnswer);
    EXPECT_EQ(Platform::GetDynamicLibraryProcAddress(library, L"NoSuchFunctionAnywhere", &address),
              Error::Unknown);
    EXPECT_EQ(address, nullptr);
    // A name that does not fit the 2046-byte buffer is not cut down to some other name.
    const std::wstring tooLong = std::wstring(3000, L'M');
    address = reinterpret_cast<void (*)()>(&ExpectAnswer);
    EXPECT_EQ(Platform::GetDynamicLibraryProcAddress(library, tooLong.c_str(), &address), Error::Unknown);
    EXPECT_EQ(address, nullptr);
    EXPECT_EQ(Platform::GetDynamicLibraryProcAddress(library, L"MarvaneTestPluginAnswer", nullptr),
              Error::InvalidParameter);
    EXPECT_EQ(Platform::UnloadDynamicLibrary(library), Error::Ok);
}

TEST(PlatformLibraryTest, MissingLibraryFails) {
    ScratchDir dir("mvcore-test");
    void* library = reinterpret_cast<void*>(1);
    EXPECT_EQ(Platform::LoadDynamicLibrary(dir.wide_file(L"no-such-library.bin").c_str(), library),
              Error::Unknown);
    EXPECT_EQ(library, nullptr);
    library = reinterpret_cast<void*>(1);
    EXPECT_EQ(Platform::LoadDynamicLibrary(nullptr, library), Error::Unknown);
    EXPECT_EQ(library, nullptr);
}

TEST(PlatformLibraryTest, NullHandlesFail) {
    void (*address)() = reinterpret_cast<void (*)()>(&ExpectAnswer);
    // Not even symbols of the process itself are found through a null handle.
    EXPECT_EQ(Platform::GetDynamicLibraryProcAddress(nullptr, L"MarvaneTestPluginAnswer", &address),
              Error::Unknown);
    EXPECT_EQ(address, nullptr);
    EXPECT_EQ(Platform::UnloadDynamicLibrary(nullptr), Error::Unknown);
}

TEST(PlatformLibraryTest, NonAsciiLibraryPath) {
    ScratchDir dir("mvcore-test");
    const std::filesystem::path copy = (dir / std::filesystem::path(u8"pl\u00fcgin-\u4e2d-\U0001F600")) /
                                       std::filesystem::path(PluginPath).filename();
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(std::filesystem::path(PluginPath), copy);
    const std::wstring wide = dir.wide_file(L"pl\u00fcgin-\u4e2d-\U0001F600") + L"/" +
                              std::filesystem::path(PluginPath).filename().wstring();
    void* library = nullptr;
    ASSERT_EQ(Platform::LoadDynamicLibrary(wide.c_str(), library), Error::Ok);
    ExpectAnswer(library);
    EXPECT_EQ(Platform::UnloadDynamicLibrary(library), Error::Ok);
}

#if !defined(_WIN32)
TEST(PlatformLibraryTest, UnconvertibleSymbolNameIsNotFound) {
    void* library = nullptr;
    ASSERT_EQ(Platform::LoadDynamicLibrary(PluginPath.c_str(), library), Error::Ok);
    const wchar_t name[] = {L'M', static_cast<wchar_t>(0xD800), 0};
    void (*address)() = reinterpret_cast<void (*)()>(&ExpectAnswer);
    EXPECT_EQ(Platform::GetDynamicLibraryProcAddress(library, name, &address), Error::Unknown);
    EXPECT_EQ(address, nullptr);
    EXPECT_EQ(Platform::UnloadDynamicLibrary(library), Error::Ok);
}
#endif
