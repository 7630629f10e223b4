#include "where_argument.h"

#include "splice_error.h"

#include <string>

namespace splice_tool {
namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

[[noreturn]] void reject(std::string_view text, const char* why) {
    throw SpliceError(ExitCode::usage, "invalid offset '" + std::string(text) + "': " + why);
}

} // namespace

Where parse_where(std::string_view text) {
    if (text == "len") return Where{true, 0};

    std::size_t pos = 0;
    while (pos < text.size() && is_blank(text[pos]))
        ++pos;
    // "0x" only counts as a prefix when a digit follows; "0xZ" is rejected rather than read as 0,
    // because writing at offset 0 is the costliest way to misread a typo.
    if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) pos += 2;
    if (pos >= text.size() || hex_digit_value(text[pos]) < 0)
        reject(text, "expected \"len\" or a hexadecimal number");

    std::uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = hex_digit_value(text[pos]);
        if (digit < 0) break;
        if (value > (UINT64_MAX >> 4)) reject(text, "more than 64 bits");
        value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    return Where{false, value};
}

} // namespace splice_tool
