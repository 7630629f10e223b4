#pragma once

#include "Marvane/Error.h"

namespace Marvane::Performance::Detail {

// Hands a start-up problem of a monitor to the log manager, which formats `format` with `argument` (a
// wide string, or none) like every other error: at most 2047 characters reach the loggers. While the
// process-wide monitor is being created the problem is held back (the log manager may allocate, and
// allocating needs the monitor) and delivered by DeliverHeldProblem once creation has finished.
// `format` must be a string literal.
void ReportMonitorProblem(Error::Enum code, const wchar_t* format, const wchar_t* argument = nullptr);
void HoldProblemsDuringCreation(bool hold);
void DeliverHeldProblem();

} // namespace Marvane::Performance::Detail
