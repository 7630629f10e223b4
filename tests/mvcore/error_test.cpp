#include "Marvane/Error.h"

#include <gtest/gtest.h>
#include <string>

using namespace Marvane;

TEST(ErrorTest, NamesMatchTheirCodes) {
    EXPECT_EQ(std::wstring(Error::ToString(Error::Ok)), L"Ok");
    EXPECT_EQ(std::wstring(Error::ToString(Error::IO)), L"IO");
    EXPECT_EQ(std::wstring(Error::ToString(Error::NotImplemented)), L"NotImplemented");
    EXPECT_EQ(std::wstring(Error::ToString(Error::AlreadyRegistered)), L"AlreadyRegistered");
    EXPECT_EQ(std::wstring(Error::ToString(Error::Unknown)), L"Unknown");
}

TEST(ErrorTest, OutOfRangeIsUnknown) {
    EXPECT_EQ(std::wstring(Error::ToString(static_cast<Error::Enum>(13))), L"Unknown");
    EXPECT_EQ(std::wstring(Error::ToString(static_cast<Error::Enum>(40))), L"Unknown");
    EXPECT_EQ(std::wstring(Error::ToString(static_cast<Error::Enum>(-1))), L"Unknown");
}
