#include "PerformanceMonitor/MonitorDiagnostics.h"
#include "Marvane/LogManager.h"
#include "PerformanceMonitor/WideText.h"

#include <atomic>

namespace Marvane::Performance::Detail {

namespace {

constexpr char ConstructorName[] = "Marvane::Performance::PerformanceMonitor::PerformanceMonitor";

std::atomic<bool> holding{false};
bool held = false;
Error::Enum heldCode = Error::Ok;
wchar_t heldText[4200];

void Deliver(Error::Enum code, const wchar_t* text) {
    const ContextInfo context{__FILE__, __LINE__, ConstructorName};
    GetLogManagerPrivate()->LogError(code, text, context);
}

} // namespace

void ReportMonitorProblem(Error::Enum code, const wchar_t* text) {
    if (holding.load()) {
        held = true;
        heldCode = code;
        CopyTruncated(heldText, sizeof(heldText) / sizeof(heldText[0]), text);
        return;
    }
    Deliver(code, text);
}

void HoldProblemsDuringCreation(bool hold) {
    holding.store(hold);
}

void DeliverHeldProblem() {
    if (!held) return;
    held = false;
    Deliver(heldCode, heldText);
}

} // namespace Marvane::Performance::Detail
