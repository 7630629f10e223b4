#pragma once

#include "log_reader.h"

#include <ostream>

namespace mplg {

// One line per record.
void Dump(const Log& log, std::ostream& out);
// A table of every statistic: group, name, unit, final value and per-frame mean.
void Stats(const Log& log, std::ostream& out);
// Chrome Trace Event format (JSON object form), for Perfetto and chrome://tracing.
void Trace(const Log& log, std::ostream& out);

} // namespace mplg
