#pragma once

#include <cstdint>

namespace Marvane::Performance {

// Index into the monitor's statistic table. Invalid is what a registration returns when the table is
// full; every operation ignores it.
class StatisticId {
  public:
    static constexpr std::uint32_t Invalid = 0xFFFFFFFFu;
    constexpr StatisticId() = default;
    constexpr StatisticId(std::uint32_t index) : id(index) {}
    constexpr operator std::uint32_t() const { return id; }
    constexpr bool IsValid() const { return id != Invalid; }
    std::uint32_t id = Invalid;
};

// Index into the monitor's group table; Invalid as for StatisticId.
class StatisticGroupId {
  public:
    static constexpr std::uint32_t Invalid = 0xFFFFFFFFu;
    constexpr StatisticGroupId() = default;
    constexpr StatisticGroupId(std::uint32_t index) : id(index) {}
    constexpr operator std::uint32_t() const { return id; }
    constexpr bool IsValid() const { return id != Invalid; }
    std::uint32_t id = Invalid;
};

namespace StatisticType {
// Stored with each statistic and logged; the library registers its own statistics as Counter.
enum Enum : std::uint32_t {
    Counter = 2,
};
} // namespace StatisticType

namespace StatisticValueMethod {
enum Enum : std::uint32_t {
    Default = 0,   // the statistic's own default method
    Value = 1,     // current value x scale
    PerFrame = 2,  // change during the last frame x scale
    PerSecond = 3, // change during the last frame x scale x frames per second
};
} // namespace StatisticValueMethod

namespace PerformanceCaptureMode {
// Stored for the client; the monitor does not act on it.
enum Enum : std::uint32_t {
    Initial = 1,
};
} // namespace PerformanceCaptureMode

struct StatisticOptions {
    const wchar_t* description = nullptr;
    const wchar_t* unit = nullptr;
    double scale = 1.0;
    StatisticValueMethod::Enum defaultMethod = StatisticValueMethod::Value;
    StatisticGroupId group = StatisticGroupId(0);
};

// One entry of the statistic table. Description and unit are not copied: the caller's strings must
// outlive the monitor.
struct Statistic {
    static constexpr unsigned NameLength = 64;
    wchar_t name[NameLength];
    StatisticType::Enum type;
    std::int64_t value;
    std::int64_t previous;
    std::int64_t change;
    const wchar_t* description;
    const wchar_t* unit;
    double scale;
    StatisticValueMethod::Enum defaultMethod;
    StatisticGroupId group;
};

} // namespace Marvane::Performance
