#include "PerformanceMonitor/MonitorDiagnostics.h"

#include "Marvane/LogManager.h"
#include "Marvane/String.h"

#include <atomic>

namespace Marvane::Performance::Detail {

namespace {

constexpr char ConstructorName[] = "Marvane::Performance::PerformanceMonitor::PerformanceMonitor";

std::atomic<bool> holding{false};
bool held = false;
Error::Enum heldCode = Error::Ok;
const wchar_t* heldFormat = nullptr;
bool heldHasArgument = false;
// The longest argument is the value of an environment variable the monitor reads.
wchar_t heldArgument[4096];

void Deliver(Error::Enum code, const wchar_t* format, const wchar_t* argument) {
    const ContextInfo context{__FILE__, __LINE__, ConstructorName};
    GetLogManagerPrivate()->LogError(code, context, format, argument != nullptr ? argument : L"");
}

} // namespace

void ReportMonitorProblem(Error::Enum code, const wchar_t* format, const wchar_t* argument) {
    if (holding.load()) {
        held = true;
        heldCode = code;
        heldFormat = format;
        heldHasArgument = argument != nullptr;
        String::CopyStringTruncate(heldArgument, sizeof(heldArgument) / sizeof(heldArgument[0]), argument);
        return;
    }
    Deliver(code, format, argument);
}

void HoldProblemsDuringCreation(bool hold) {
    holding.store(hold);
}

void DeliverHeldProblem() {
    if (!held) return;
    held = false;
    Deliver(heldCode, heldFormat, heldHasArgument ? heldArgument : nullptr);
}

} // namespace Marvane::Performance::Detail
