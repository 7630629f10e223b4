#pragma once

// Replays the records of a log the way the monitor applied them, so that every later record can be read
// against the statistic, group and thread it refers to.

#include "log_reader.h"

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace mplg {

struct StatisticState {
    std::string name;
    std::string description;
    std::string unit;
    std::uint32_t group = 0;
    std::uint32_t type = 2;
    double scale = 1.0;
    std::uint32_t method = 1;
    std::int64_t value = 0;
};

// Ranges the monitor keeps open per thread; a push beyond them is logged but not timed, and the pops
// that follow close the ranges below it. The replay follows the same rule so that its totals agree.
inline constexpr std::size_t MonitorRangeDepth = 64;

class Replay {
  public:
    // Applies one record. For a PushRange that opened a timed range, `openedRange` is set; for a
    // PopRange that closed one, `closedRange`.
    void Apply(const Record& record);

    StatisticState& Statistic(std::uint32_t id);
    std::string GroupName(std::uint32_t id) const;
    std::string ThreadName(std::uint32_t thread) const;
    // "group/name" of a statistic, or "#id" for one the log never created.
    std::string QualifiedName(std::uint32_t id) const;

    std::map<std::uint32_t, StatisticState> statistics;
    std::map<std::uint32_t, std::string> groups;
    std::map<std::uint32_t, std::string> threads; // keyed by the low 24 bits of the identifier
    std::int64_t lastTime = 0;                    // time of the latest record that carried one
    bool openedRange = false;
    bool closedRange = false;

  private:
    std::map<std::uint32_t, std::vector<std::pair<std::int64_t, std::uint32_t>>> m_stacks;
};

} // namespace mplg
