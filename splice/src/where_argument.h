#pragma once

#include <cstdint>
#include <string_view>

namespace splice_tool {

// Where the source goes: at the target's current end, or at a byte offset from its start.
struct Where {
    bool append = false;
    std::uint64_t offset = 0;
};

// "len" (exactly) appends. Anything else must be a hexadecimal offset in the form "%I64X" reads:
// optional leading white space, an optional 0x/0X prefix, then hex digits; text after the digits is
// ignored. Throws SpliceError (usage) when there is no such number or it does not fit 64 bits.
Where parse_where(std::string_view text);

} // namespace splice_tool
