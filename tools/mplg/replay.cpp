#include "replay.h"

namespace mplg {

namespace {

// Values and times come from the file: a damaged log may hold any of them, so sums wrap (as the
// monitor's own 64-bit counters do) instead of overflowing. a + b - c.
std::int64_t Wrapping(std::int64_t a, std::int64_t b, std::int64_t c = 0) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b) -
                                     static_cast<std::uint64_t>(c));
}

} // namespace

StatisticState& Replay::Statistic(std::uint32_t id) {
    auto found = statistics.find(id);
    if (found != statistics.end()) return found->second;
    StatisticState& state = statistics[id];
    state.name = "#" + std::to_string(id);
    return state;
}

std::string Replay::GroupName(std::uint32_t id) const {
    auto found = groups.find(id);
    return found != groups.end() ? found->second : "#" + std::to_string(id);
}

std::string Replay::ThreadName(std::uint32_t thread) const {
    auto found = threads.find(thread & 0xFFFFFFu);
    return found != threads.end() ? found->second : "thread " + std::to_string(thread);
}

std::string Replay::QualifiedName(std::uint32_t id) const {
    auto found = statistics.find(id);
    if (found == statistics.end()) return "#" + std::to_string(id);
    return GroupName(found->second.group) + "/" + found->second.name;
}

void Replay::Apply(const Record& record) {
    openedRange = false;
    closedRange = false;
    switch (record.type) {
    case StatisticCreate: {
        StatisticState& state = Statistic(record.id);
        state.name = record.name;
        state.description = record.description;
        state.unit = record.unit;
        state.group = record.group;
        state.type = record.statisticType;
        state.scale = record.scale;
        state.method = record.method;
        break;
    }
    case GroupCreate:
        groups[record.id] = record.name;
        break;
    case ThreadCreate:
        threads[record.id & 0xFFFFFFu] = record.name;
        break;
    case CounterInc:
        Statistic(record.id).value = Wrapping(Statistic(record.id).value, 1);
        break;
    case CounterDec:
        Statistic(record.id).value = Wrapping(Statistic(record.id).value, -1);
        break;
    case CounterAdd:
        Statistic(record.id).value = Wrapping(Statistic(record.id).value, record.amount);
        break;
    case CounterSub:
        Statistic(record.id).value = Wrapping(Statistic(record.id).value, -std::int64_t{record.amount});
        break;
    case CounterSet:
        Statistic(record.id).value = record.amount;
        break;
    case PushRange: {
        lastTime = record.time;
        auto& stack = m_stacks[record.thread];
        if (stack.size() < MonitorRangeDepth) {
            stack.emplace_back(record.time, record.id);
            openedRange = true;
        }
        break;
    }
    case PopRange: {
        lastTime = record.time;
        auto& stack = m_stacks[record.thread];
        if (!stack.empty()) {
            const auto [start, id] = stack.back();
            stack.pop_back();
            Statistic(id).value = Wrapping(Statistic(id).value, Wrapping(record.time, 0, start));
            closedRange = true;
        }
        break;
    }
    case BeginRange:
        lastTime = record.time;
        Statistic(record.id).value = Wrapping(Statistic(record.id).value, 1);
        break;
    case EndRange:
    case Tick:
        lastTime = record.time;
        break;
    default:
        break;
    }
}

} // namespace mplg
