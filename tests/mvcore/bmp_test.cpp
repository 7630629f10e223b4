#include "Marvane/Utilities/BmpFile.h"
#include "process_runner.h"
#include "scratch_dir.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

using namespace Marvane;
using Utilities::BmpFile;

namespace {

std::uint32_t Read32(const unsigned char* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}
std::uint16_t Read16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

std::vector<unsigned char> Pattern(std::size_t n) {
    std::vector<unsigned char> pixels(n);
    for (std::size_t i = 0; i < n; ++i)
        pixels[i] = static_cast<unsigned char>(i * 37 + 11);
    return pixels;
}

} // namespace

TEST(BmpTest, TwoByTwoAtThreeBytesPerPixel) {
    auto pixels = Pattern(12);
    Array<unsigned char> file;
    ASSERT_EQ(BmpFile::WriteBitmap(pixels.data(), 2, 2, 3, file), Error::Ok);
    ASSERT_EQ(file.GetCount(), 66u);
    const unsigned char* b = file.GetData();
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Read32(b + 2), 66u);
    EXPECT_EQ(Read32(b + 6), 0u);
    EXPECT_EQ(Read32(b + 10), 54u);
    EXPECT_EQ(Read32(b + 14), 40u);
    EXPECT_EQ(Read32(b + 18), 2u);
    EXPECT_EQ(Read32(b + 22), 2u);
    EXPECT_EQ(Read16(b + 26), 1u);
    EXPECT_EQ(Read16(b + 28), 24u);
    EXPECT_EQ(Read32(b + 30), 0u);
    EXPECT_EQ(Read32(b + 34), 12u);
    EXPECT_EQ(Read32(b + 38), 72u);
    EXPECT_EQ(Read32(b + 42), 72u);
    EXPECT_EQ(Read32(b + 46), 0u);
    EXPECT_EQ(Read32(b + 50), 0u);
    EXPECT_EQ(std::vector<unsigned char>(b + 54, b + 66), pixels);
}

TEST(BmpTest, BitsPerPixelFollowTheByteCount) {
    for (unsigned bytes = 1; bytes <= 4; ++bytes) {
        auto pixels = Pattern(5 * 3 * bytes);
        Array<unsigned char> file;
        ASSERT_EQ(BmpFile::WriteBitmap(pixels.data(), 5, 3, bytes, file), Error::Ok);
        EXPECT_EQ(file.GetCount(), 54 + 15 * bytes);
        EXPECT_EQ(Read16(file.GetData() + 28), 8 * bytes);
        EXPECT_EQ(Read32(file.GetData() + 34), 15 * bytes);
    }
}

TEST(BmpTest, RejectsWhatCannotBeABitmap) {
    auto pixels = Pattern(64);
    Array<unsigned char> file;
    EXPECT_EQ(BmpFile::WriteBitmap(nullptr, 2, 2, 3, file), Error::InvalidParameter);
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 0, 2, 3, file), Error::InvalidParameter);
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 2, 0, 3, file), Error::InvalidParameter);
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 2, 2, 0, file), Error::InvalidParameter);
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 2, 2, 5, file), Error::InvalidParameter);
    // 65536 x 65536 x 4 bytes does not fit the format's 32-bit sizes.
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 65536, 65536, 4, file), Error::InvalidParameter);
    EXPECT_TRUE(file.IsEmpty());
}

TEST(BmpTest, TargetArrayMustBeEmpty) {
    auto pixels = Pattern(4);
    Array<unsigned char> file;
    ASSERT_EQ(file.Initialize(3), Error::Ok);
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 2, 2, 1, file), Error::InvalidState);
    EXPECT_EQ(file.GetCount(), 3u);
}

#if !defined(_WIN32)
// ffmpeg reads the file back to the very pixels written (rows of 12 bytes need no padding).
TEST(BmpTest, FfmpegDecodesTheWrittenPixels) {
    const std::filesystem::path ffmpeg = program_on_path("ffmpeg");
    if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg not available";
    const unsigned width = 4, height = 3;
    auto pixels = Pattern(width * height * 3);
    Array<unsigned char> file;
    ASSERT_EQ(BmpFile::WriteBitmap(pixels.data(), width, height, 3, file), Error::Ok);

    const ScratchDir dir("mvcore-bmp");
    const auto bmp = dir / "image.bmp";
    const auto raw = dir / "image.raw";
    {
        std::ofstream out(bmp, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.GetData()), file.GetCount());
    }
    // Decoded rows come top-down; the file stores them bottom-up.
    const ProcessRun run = run_process(ffmpeg, {"-nostdin", "-v", "error", "-y", "-i", bmp.string(), "-f",
                                                "rawvideo", "-pix_fmt", "bgr24", raw.string()});
    ASSERT_EQ(run.exit_code, 0) << run.start_error << run.err;
    std::ifstream in(raw, std::ios::binary);
    const std::vector<unsigned char> decoded{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(decoded.size(), pixels.size());
    const unsigned row = width * 3;
    for (unsigned y = 0; y < height; ++y)
        EXPECT_EQ(std::vector<unsigned char>(decoded.begin() + y * row, decoded.begin() + (y + 1) * row),
                  std::vector<unsigned char>(pixels.begin() + (height - 1 - y) * row,
                                             pixels.begin() + (height - y) * row))
            << "row " << y;
}
#endif

namespace {

std::filesystem::path TempFile(const char* name) {
    return program_scratch_dir() / (std::string(name) + ".bmp");
}

} // namespace

TEST(BmpTest, PathWriterWritesExactlyTheInMemoryFile) {
    auto pixels = Pattern(7 * 5 * 4);
    Array<unsigned char> expected;
    ASSERT_EQ(BmpFile::WriteBitmap(pixels.data(), 7, 5, 4, expected), Error::Ok);
    const auto path = TempFile("path");
    ASSERT_EQ(BmpFile::WriteBitmap(pixels.data(), 7, 5, 4, path.wstring().c_str()), Error::Ok);
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> written{std::istreambuf_iterator<char>(in), {}};
    in.close();
    EXPECT_EQ(written,
              std::vector<unsigned char>(expected.GetData(), expected.GetData() + expected.GetCount()));
    std::filesystem::remove(path);
}

TEST(BmpTest, PathWriterReportsBadArgumentsAndUnopenablePaths) {
    auto pixels = Pattern(16);
    const auto missingDirectory = TempFile("missing") / "image.bmp";
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 2, 2, 4, missingDirectory.wstring().c_str()), Error::IO);
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 2, 2, 4, static_cast<const wchar_t*>(nullptr)),
              Error::InvalidParameter);
    const auto path = TempFile("invalid");
    EXPECT_EQ(BmpFile::WriteBitmap(pixels.data(), 2, 2, 9, path.wstring().c_str()), Error::InvalidParameter);
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing is created for an invalid bitmap";
}
