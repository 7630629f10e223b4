#pragma once

#include "Marvane/Error.h"

namespace Marvane::Performance::Detail {

// Hands a start-up problem of a monitor to the log manager. While the process-wide monitor is being
// created the message is held back (the log manager may allocate, and allocating needs the monitor) and
// delivered by DeliverHeldProblem once creation has finished.
void ReportMonitorProblem(Error::Enum code, const wchar_t* text);
void HoldProblemsDuringCreation(bool hold);
void DeliverHeldProblem();

} // namespace Marvane::Performance::Detail
