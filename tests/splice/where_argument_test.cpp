// The offset argument, checked against the C library's own hexadecimal conversion.
#include "splice_error.h"
#include "where_argument.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

using splice_tool::ExitCode;
using splice_tool::parse_where;
using splice_tool::SpliceError;

std::uint64_t strtoull_hex(const std::string& text) {
    return std::strtoull(text.c_str(), nullptr, 16);
}

TEST(WhereArgumentTest, LenIsTheOnlyAppendKeyword) {
    EXPECT_TRUE(parse_where("len").append);
    // Other spellings are not the keyword, and 'l' is no hex digit, so they name no offset either.
    for (const char* text : {"LEN", "Len", "len ", " len", "length"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(parse_where(text), SpliceError);
    }
}

TEST(WhereArgumentTest, AgreesWithStrtoullOnAcceptedSpellings) {
    for (const char* text : {"0", "1", "10", "1000", "ff", "FF", "0x20", "0X20", "  20", "\t\n\v\f\r 7",
                             "2Ag", "12 34", "0x12x34", "deadBEEF", "0xFFFFFFFFFFFFFFFF",
                             "0000000000000000001", "00000000000000000000FFFFFFFFFFFFFFFF"}) {
        SCOPED_TRACE(text);
        const auto where = parse_where(text);
        EXPECT_FALSE(where.append);
        EXPECT_EQ(where.offset, strtoull_hex(text));
    }
}

TEST(WhereArgumentTest, RoundTripsPrintedValues) {
    std::mt19937_64 random(42);
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t value = random() >> (random() % 64);
        char upper[40];
        char prefixed[40];
        std::snprintf(upper, sizeof(upper), "%" PRIX64, value);
        std::snprintf(prefixed, sizeof(prefixed), " 0x%" PRIx64 "tail", value);
        EXPECT_EQ(parse_where(upper).offset, value) << upper;
        EXPECT_EQ(parse_where(prefixed).offset, value) << prefixed;
    }
}

TEST(WhereArgumentTest, TextWithoutANumberIsAUsageError) {
    for (const char* text : {"", " ", "x", "g", "-1", "+1", "0x", "0X", "0xg", " 0x 1", "\xC3\xA4"}) {
        SCOPED_TRACE(text);
        try {
            parse_where(text);
            ADD_FAILURE() << "accepted";
        } catch (const SpliceError& error) {
            EXPECT_EQ(error.code(), ExitCode::usage);
        }
    }
}

TEST(WhereArgumentTest, NumbersWiderThan64BitsAreAUsageError) {
    for (const char* text : {"10000000000000000", "0x1FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFFF"}) {
        SCOPED_TRACE(text);
        try {
            parse_where(text);
            ADD_FAILURE() << "accepted";
        } catch (const SpliceError& error) {
            EXPECT_EQ(error.code(), ExitCode::usage);
        }
    }
}

} // namespace
