#include "commands.h"
#include "replay.h"
#include "text_format.h"

#include <map>

namespace mplg {

namespace {

constexpr const char* Process = "1";

class EventList {
  public:
    explicit EventList(std::ostream& stream) : out(stream) {}
    void Add(const std::string& event) {
        out << (first ? "\n" : ",\n") << event;
        first = false;
    }

  private:
    std::ostream& out;
    bool first = true;
};

} // namespace

// Ranges pushed and popped on a thread become B/E duration events on that thread; ranges begun and ended
// anywhere become async b/e pairs keyed by their handle; counter updates become C events at the time of
// the latest timed record; ticks become global instant events. Times are microseconds since the start
// of the capture.
void Trace(const Log& log, std::ostream& out) {
    const double toMicroseconds =
        log.ticksPerSecond > 0 ? 1e6 / static_cast<double>(log.ticksPerSecond) : 1.0;
    auto ts = [&](std::int64_t ticks) { return Number(static_cast<double>(ticks) * toMicroseconds); };
    Replay replay;
    std::map<std::uint64_t, std::string> openHandles;
    out << "{\"displayTimeUnit\":\"ms\",\"otherData\":{\"ticksPerSecond\":" << log.ticksPerSecond
        << "},\"traceEvents\":[";
    EventList events(out);
    events.Add(std::string("{\"ph\":\"M\",\"pid\":") + Process +
               ",\"name\":\"process_name\",\"args\":{\"name\":\"mvcore performance log\"}}");
    for (const Record& r : log.records) {
        replay.Apply(r);
        const std::string common = std::string("\"pid\":") + Process;
        switch (r.type) {
        case ThreadCreate:
            events.Add("{\"ph\":\"M\"," + common + ",\"tid\":" + std::to_string(r.id & 0xFFFFFFu) +
                       ",\"name\":\"thread_name\",\"args\":{\"name\":" + Quoted(r.name) + "}}");
            break;
        case PushRange:
            // A push beyond the monitor's range stack was not timed: its pop closes the range below.
            if (!replay.openedRange) break;
            events.Add("{\"ph\":\"B\"," + common + ",\"tid\":" + std::to_string(r.thread & 0xFFFFFFu) +
                       ",\"ts\":" + ts(r.time) + ",\"name\":" + Quoted(replay.QualifiedName(r.id)) + "}");
            break;
        case PopRange:
            // A pop with nothing open has no begin to pair with.
            if (replay.closedRange) {
                events.Add("{\"ph\":\"E\"," + common + ",\"tid\":" + std::to_string(r.thread & 0xFFFFFFu) +
                           ",\"ts\":" + ts(r.time) + "}");
            }
            break;
        case BeginRange: {
            const std::string name = Quoted(replay.QualifiedName(r.id));
            openHandles[r.handle] = name;
            events.Add("{\"ph\":\"b\"," + common + ",\"tid\":0,\"cat\":\"range\",\"id\":\"" +
                       std::to_string(r.handle) + "\",\"ts\":" + ts(r.time) + ",\"name\":" + name + "}");
            break;
        }
        case EndRange: {
            auto found = openHandles.find(r.handle);
            if (found == openHandles.end()) break;
            events.Add("{\"ph\":\"e\"," + common + ",\"tid\":0,\"cat\":\"range\",\"id\":\"" +
                       std::to_string(r.handle) + "\",\"ts\":" + ts(r.time) + ",\"name\":" + found->second +
                       "}");
            openHandles.erase(found);
            break;
        }
        case CounterInc:
        case CounterDec:
        case CounterAdd:
        case CounterSub:
        case CounterSet: {
            const StatisticState& state = replay.Statistic(r.id);
            events.Add("{\"ph\":\"C\"," + common + ",\"ts\":" + ts(replay.lastTime) +
                       ",\"name\":" + Quoted(replay.QualifiedName(r.id)) + ",\"args\":{\"value\":" +
                       Number(static_cast<double>(state.value) * state.scale) + "}}");
            break;
        }
        case Tick:
            events.Add("{\"ph\":\"i\"," + common + ",\"tid\":0,\"s\":\"g\",\"ts\":" + ts(r.time) +
                       ",\"name\":\"Tick\"}");
            break;
        default:
            break;
        }
    }
    out << "\n]}\n";
}

} // namespace mplg
