#include "Graphics/BlockGeometry.h"

namespace Marvane::Graphics {

namespace {

struct FormatEntry {
    const wchar_t* name;
    Detail::BlockGeometry geometry;
};

constexpr FormatEntry Formats[] = {
    {L"R8G8B8A8", {1, 4}}, {L"R16G16B16A16", {1, 8}}, {L"R32G32B32A32", {1, 16}}, {L"BC1", {4, 8}},
    {L"BC3", {4, 16}},     {L"BC5", {4, 16}},         {L"BC7", {4, 16}},          {L"BC6", {4, 16}},
    {L"BC4", {4, 8}},      {L"ASTC4X4", {4, 16}},     {L"ASTC8X8", {8, 16}},      {L"R32", {1, 4}},
    {L"R32G32", {1, 8}},   {L"R32G32B32", {1, 12}},
};

constexpr unsigned FormatCount = sizeof(Formats) / sizeof(Formats[0]);

bool IsKnown(TextureFormat::Enum format) {
    return static_cast<unsigned>(format) < FormatCount;
}

} // namespace

Detail::BlockGeometry Detail::GeometryOf(TextureFormat::Enum format) {
    return IsKnown(format) ? Formats[format].geometry : BlockGeometry{0, 0};
}

const wchar_t* TextureFormat::ToString(Enum format) {
    return IsKnown(format) ? Formats[format].name : L"Unknown";
}

unsigned int GetBlockWidth(TextureFormat::Enum format) {
    return Detail::GeometryOf(format).width;
}

unsigned int GetBlockHeight(TextureFormat::Enum format) {
    return GetBlockWidth(format);
}

unsigned int GetBlockSizeBytes(TextureFormat::Enum format) {
    return Detail::GeometryOf(format).bytes;
}

u64 GetRectangleSize(TextureFormat::Enum format, int width, int height) {
    const Detail::BlockGeometry block = Detail::GeometryOf(format);
    // A negative dimension describes no rectangle; it must not turn into a huge unsigned size.
    if (block.width == 0 || width < 0 || height < 0) return 0;
    const u64 blocksWide = (static_cast<u64>(width) + block.width - 1) / block.width;
    const u64 blocksHigh = (static_cast<u64>(height) + block.width - 1) / block.width;
    return blocksWide * blocksHigh * block.bytes;
}

void CalculateSubrectangleOffsetAndPitch(TextureFormat::Enum format, unsigned int width,
                                         unsigned int /*height*/, unsigned int x, unsigned int y,
                                         unsigned int& offset, unsigned int& pitch) {
    const Detail::BlockGeometry block = Detail::GeometryOf(format);
    if (block.width == 0) {
        offset = 0;
        pitch = 0;
        return;
    }
    const unsigned int b = block.width;
    offset = ((width / b) * (y / b) + x / b) * block.bytes;
    pitch = ((width + b - 1) / b) * block.bytes;
}

unsigned int CalculateRectanglePitch(TextureFormat::Enum format, unsigned int width) {
    unsigned int offset = 0;
    unsigned int pitch = 0;
    CalculateSubrectangleOffsetAndPitch(format, width, 0, 0, 0, offset, pitch);
    return pitch;
}

} // namespace Marvane::Graphics
