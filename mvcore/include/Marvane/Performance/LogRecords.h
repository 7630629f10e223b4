#pragma once

#include <cstdint>

namespace Marvane::Performance {

namespace MessageType {
// Record types of the performance log (the low byte of each record word).
enum Enum : std::uint32_t {
    Header = 0,
    Tick = 1,
    BeginRange = 3,
    EndRange = 4,
    PushRange = 5,
    PopRange = 6,
    ThreadCreate = 7,
    StatisticCreate = 8,
    GroupCreate = 9,
    CounterInc = 10,
    CounterDec = 11,
    CounterAdd = 12,
    CounterSub = 13,
    CounterSet = 14,
};
} // namespace MessageType

namespace PayloadType {
// Tag byte in front of a typed payload written by client records.
enum Enum : std::uint8_t {
    None = 0,
    Integer = 2,
    String = 3,
};
} // namespace PayloadType

struct NoPayload {};

// The fixed start of every log file.
constexpr std::uint32_t LogHeaderWord = 0x00000200u;
constexpr char LogMagic[4] = {'M', 'P', 'L', 'G'};
// Strings longer than this many UTF-16 code units are cut.
constexpr std::uint32_t LogStringMaxUnits = 65535;

} // namespace Marvane::Performance
