#include "Marvane/Utilities/BmpFile.h"

#include <cstdint>
#include <cstring>

namespace Marvane::Utilities {
namespace {

constexpr std::uint32_t HeaderBytes = 54;
constexpr std::uint32_t InfoHeaderBytes = 40;
constexpr std::uint32_t Resolution = 72;

void Put16(unsigned char* at, std::uint16_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void Put32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

Error::Enum BmpFile::WriteBitmap(void* pixels, unsigned int width, unsigned int height,
                                 unsigned int bytesPerPixel, Array<unsigned char>& file) {
    if (pixels == nullptr || width == 0 || height == 0 || bytesPerPixel < 1 || bytesPerPixel > 4)
        return Error::InvalidParameter;
    // The file and image sizes are 32-bit fields; a larger image would be written with wrapped sizes
    // and a pixel copy that overruns the buffer.
    const std::uint64_t pixelBytes = static_cast<std::uint64_t>(width) * height * bytesPerPixel;
    if (pixelBytes > 0xFFFFFFFFull - HeaderBytes) return Error::InvalidParameter;
    const auto n = static_cast<std::uint32_t>(pixelBytes);
    const Error::Enum result = file.Initialize(n + HeaderBytes);
    if (result != Error::Ok) return result;

    unsigned char* out = file.GetData();
    out[0] = 'B';
    out[1] = 'M';
    Put32(out + 2, n + HeaderBytes);
    Put32(out + 6, 0);
    Put32(out + 10, HeaderBytes);
    Put32(out + 14, InfoHeaderBytes);
    Put32(out + 18, width);
    Put32(out + 22, height);
    Put16(out + 26, 1);
    Put16(out + 28, static_cast<std::uint16_t>(8 * bytesPerPixel));
    Put32(out + 30, 0);
    Put32(out + 34, n);
    Put32(out + 38, Resolution);
    Put32(out + 42, Resolution);
    Put32(out + 46, 0);
    Put32(out + 50, 0);
    std::memcpy(out + HeaderBytes, pixels, n);
    return Error::Ok;
}

} // namespace Marvane::Utilities
