#pragma once

// Replays the records of a log the way the monitor applied them, so that every later record can be read
// against the statistic, group and thread it refers to.

#include "log_reader.h"

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

class Replay {
  public:
    // Applies one record. For a PopRange that closed an open range, `closedRange` is set.
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
    bool closedRange = false;

  private:
    std::map<std::uint32_t, std::vector<std::pair<std::int64_t, std::uint32_t>>> stacks;
};

} // namespace mplg
