#include "commands.h"
#include "replay.h"
#include "text_format.h"

#include <cstdio>

namespace mplg {

namespace {

// What each statistic looked like over the frames (Tick records) of the capture.
struct FrameFigures {
    double sum = 0.0;
    std::size_t frames = 0;
    std::int64_t valueAtLastTick = 0;
};

} // namespace

// The per-frame mean follows the statistic's own default method: for a value (method 1) the mean level
// at the end of each frame, for per-frame and per-second statistics the mean change per frame.
void Stats(const Log& log, std::ostream& out) {
    Replay replay;
    std::map<std::uint32_t, FrameFigures> figures;
    std::size_t frames = 0;
    for (const Record& record : log.records) {
        replay.Apply(record);
        if (record.type != Tick) continue;
        ++frames;
        for (auto& [id, state] : replay.statistics) {
            FrameFigures& f = figures[id];
            const double figure = state.method == 1
                                      ? static_cast<double>(state.value) * state.scale
                                      : static_cast<double>(state.value - f.valueAtLastTick) * state.scale;
            f.sum += figure;
            ++f.frames;
            f.valueAtLastTick = state.value;
        }
    }
    char line[512];
    std::snprintf(line, sizeof(line), "%-24s %-44s %-10s %18s %18s\n", "group", "name", "unit", "final value",
                  "per-frame mean");
    out << line;
    for (const auto& [id, state] : replay.statistics) {
        const FrameFigures& f = figures[id];
        const std::string mean = f.frames > 0 ? ReadableNumber(f.sum / static_cast<double>(f.frames)) : "-";
        std::snprintf(line, sizeof(line), "%-24s %-44s %-10s %18s %18s\n",
                      replay.GroupName(state.group).c_str(), state.name.c_str(), state.unit.c_str(),
                      ReadableNumber(static_cast<double>(state.value) * state.scale).c_str(), mean.c_str());
        out << line;
    }
    out << frames << " frames, " << replay.statistics.size() << " statistics\n";
}

} // namespace mplg
