#include "commands.h"
#include "text_format.h"

namespace mplg {

void Dump(const Log& log, std::ostream& out) {
    out << "MPLG ticks_per_second=" << log.ticksPerSecond << "\n";
    for (const Record& r : log.records) {
        out << r.offset << " " << RecordTypeName(r.type) << " id=" << r.id;
        switch (r.type) {
        case Tick:
            out << " time=" << r.time;
            break;
        case BeginRange:
        case EndRange:
            out << " handle=" << r.handle << " time=" << r.time;
            break;
        case PushRange:
        case PopRange:
            out << " thread=" << r.thread << " time=" << r.time;
            break;
        case ThreadCreate:
        case GroupCreate:
            out << " name=" << Quoted(r.name);
            break;
        case StatisticCreate:
            out << " name=" << Quoted(r.name) << " type=" << r.statisticType
                << " description=" << Quoted(r.description) << " unit=" << Quoted(r.unit)
                << " scale=" << Number(r.scale) << " method=" << r.method << " group=" << r.group;
            break;
        case CounterAdd:
        case CounterSub:
        case CounterSet:
            out << " amount=" << r.amount;
            break;
        default:
            break;
        }
        out << "\n";
    }
}

} // namespace mplg
