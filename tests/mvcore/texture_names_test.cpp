#include "Marvane/Graphics/LayerDataType.h"
#include "Marvane/Graphics/TextureChannelTransform.h"

#include <gtest/gtest.h>

using namespace Marvane;

TEST(TextureNamesTest, ChannelTransforms) {
    namespace T = Graphics::TextureChannelTransform;
    const wchar_t* names[] = {L"UINT", L"SINT", L"UNORM", L"SNORM", L"SFLOAT", L"UFLOAT", L"SRGB"};
    for (int i = 0; i < 7; ++i)
        EXPECT_STREQ(T::ToString(static_cast<T::Enum>(i)), names[i]);
    EXPECT_STREQ(T::ToString(T::SRGB), L"SRGB");
    EXPECT_STREQ(T::ToString(static_cast<T::Enum>(7)), L"Unknown");
    EXPECT_STREQ(T::ToString(static_cast<T::Enum>(-3)), L"Unknown");
}

TEST(TextureNamesTest, LayerDataTypes) {
    const wchar_t* names[] = {
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
    for (unsigned i = 0; i < 27; ++i)
        EXPECT_STREQ(LayerDataType::ToString(static_cast<LayerDataType::Enum>(i)), names[i]) << i;
    EXPECT_STREQ(LayerDataType::ToString(static_cast<LayerDataType::Enum>(27)), L"Unknown");
    EXPECT_STREQ(LayerDataType::ToString(static_cast<LayerDataType::Enum>(0xFFFFFFFEu)), L"Unknown");
    EXPECT_STREQ(LayerDataType::ToString(LayerDataType::ForceUnsignedInt), L"ForceUnsignedInt");
    EXPECT_EQ(sizeof(LayerDataType::Enum), 4u);
}

TEST(TextureNamesTest, OnlyTheSrgbTypesAreNonLinear) {
    EXPECT_FALSE(LayerDataType::IsLinear(LayerDataType::R8G8B8_SRGB));
    EXPECT_FALSE(LayerDataType::IsLinear(LayerDataType::R8G8B8A8_SRGB));
    EXPECT_TRUE(LayerDataType::IsLinear(LayerDataType::X8Y8Z0_TANGENT));
    for (unsigned i = 3; i < 27; ++i)
        EXPECT_TRUE(LayerDataType::IsLinear(static_cast<LayerDataType::Enum>(i))) << i;
    EXPECT_TRUE(LayerDataType::IsLinear(LayerDataType::ForceUnsignedInt));
}
