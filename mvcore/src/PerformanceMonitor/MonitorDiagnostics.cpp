#include "PerformanceMonitor/MonitorDiagnostics.h"
#include "PerformanceMonitor/WideText.h"

#include <atomic>

namespace Marvane::Performance::Detail {

namespace {

constexpr wchar_t ConstructorName[] = L"Marvane::Performance::PerformanceMonitor::PerformanceMonitor";

std::atomic<bool> holding{false};
bool held = false;
Error::Enum heldCode = Error::Ok;
wchar_t heldText[4200];

void Deliver(Error::Enum code, const wchar_t* text) {
    // The log manager is connected here; until it is part of the library there is nobody to tell.
    (void)code;
    (void)text;
    (void)ConstructorName;
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
