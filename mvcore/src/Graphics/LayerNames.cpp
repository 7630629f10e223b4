#include "Marvane/Graphics/LayerDataType.h"
#include "Marvane/Graphics/TextureChannelTransform.h"

namespace Marvane {

namespace {

template <unsigned N> const wchar_t* NameAt(const wchar_t* const (&names)[N], unsigned value) {
    return value < N ? names[value] : L"Unknown";
}

} // namespace

const wchar_t* Graphics::TextureChannelTransform::ToString(Enum transform) {
    static const wchar_t* const names[] = {L"UINT",   L"SINT",   L"UNORM", L"SNORM",
                                           L"SFLOAT", L"UFLOAT", L"SRGB"};
    return NameAt(names, static_cast<unsigned>(transform));
}

const wchar_t* LayerDataType::ToString(Enum type) {
    static const wchar_t* const names[] = {
        L"R8G8B8_SRGB",
        L"R8G8B8A8_SRGB",
        L"X8Y8Z0_TANGENT",
        L"R8G8B8_LINEAR",
        L"R8G8B8A8_LINEAR",
        L"X8",
        L"X8Y8",
        L"X8Y8Z8",
        L"X8Y8Z8W8",
        L"X16",
        L"X16Y16",
        L"X16Y16Z16",
        L"X16Y16Z16W16",
        L"X32",
        L"X32_FLOAT",
        L"X32Y32",
        L"X32Y32_FLOAT",
        L"X32Y32Z32",
        L"X32Y32Z32_FLOAT",
        L"R32G32B32",
        L"R32G32B32_FLOAT",
        L"X32Y32Z32W32",
        L"X32Y32Z32W32_FLOAT",
        L"R32G32B32A32",
        L"R32G32B32A32_FLOAT",
        L"R16G16B16_FLOAT",
        L"R16G16B16A16_FLOAT",
    };
    if (type == ForceUnsignedInt) return L"ForceUnsignedInt";
    return NameAt(names, static_cast<unsigned>(type));
}

bool LayerDataType::IsLinear(Enum type) {
    return type != R8G8B8_SRGB && type != R8G8B8A8_SRGB;
}

} // namespace Marvane
