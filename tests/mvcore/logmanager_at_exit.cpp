// The log manager stays usable until the process ends, whichever came first: its first use or the client
// objects that use it at exit. Each check runs inside exit itself (destructors of globals, atexit
// handlers), so this is a plain program run once per order; a failed check ends it with exit code 1.
//
//   mvcore_logmanager_at_exit client-first    client global and atexit handler set up before the
//                                             manager's first use (run with a capture started by the
//                                             environment, so the library itself does not use the
//                                             manager while it loads)
//   mvcore_logmanager_at_exit manager-first   the manager is used first; a client IAllocator registered
//                                             afterwards is destroyed first at exit, and nothing may be
//                                             released through it from then on
#include "Marvane/Allocator.h"
#include "Marvane/Core.h"
#include "Marvane/LogManager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace Marvane;

namespace {

constexpr unsigned MutedId = 7;

[[noreturn]] void Fail(const char* what, const char* where) {
    std::fprintf(stderr, "FAILED at exit (%s): %s\n", where, what);
    std::fflush(stderr);
    std::_Exit(1);
}

// Trivially destructible, so it still receives texts after every destructor has run.
class CountingLogger : public ILogger {
  public:
    void LogError(Error::Enum, const wchar_t*, const ContextInfo&) override { ++errors; }
    void LogWarning(const wchar_t*) override { ++warnings; }
    void LogMessage(const wchar_t*) override { ++messages; }
    long errors = 0, warnings = 0, messages = 0;
};
CountingLogger logger;

// What a client does with the manager at exit: a muted warning stays muted, a message arrives, and a
// new mute is kept.
void UseAtExit(const char* where) {
    LogManager* manager = GetLogManagerPrivate();
    if (!manager->IsWarningMuted(MutedId)) Fail("a warning muted earlier is no longer muted", where);
    const long warnings = logger.warnings;
    manager->LogWarning(MutedId, L"muted warning from %hs", where);
    if (logger.warnings != warnings) Fail("a muted warning reached the logger", where);
    const long messages = logger.messages;
    manager->LogMessage(L"message from %hs", where);
    if (logger.messages != messages + 1) Fail("a message did not reach the logger", where);
    manager->MuteWarning(MutedId + 1);
    if (!manager->IsWarningMuted(MutedId + 1)) Fail("a new mute was not kept", where);
}

struct ClientObject {
    const char* where;
    ~ClientObject() { UseAtExit(where); }
};

// Outside the allocator object: a store to a member in its destructor may be optimised away.
bool allocatorDestroyed = false;

// A client allocator that is destroyed at exit like any other client object: releasing through it
// after that is the fault under test.
class ClientAllocator : public IAllocator {
  public:
    ~ClientAllocator() { allocatorDestroyed = true; }
    void* Alloc(std::uint64_t size, AllocationCategory::Enum, const ContextInfo&) override {
        if (allocatorDestroyed) Fail("allocation through a destroyed client allocator", "allocator");
        return std::malloc(static_cast<std::size_t>(size));
    }
    void Free(void* block, const ContextInfo&) override {
        if (allocatorDestroyed) Fail("release through a destroyed client allocator", "allocator");
        std::free(block);
    }
    void* AllocAligned(std::uint64_t, std::uint32_t, AllocationCategory::Enum, const ContextInfo&) override {
        return nullptr;
    }
    void FreeAligned(void* block, const ContextInfo& context) override { Free(block, context); }
    void ValidateHeap() override {}
};

bool clientFirst = false;

void AtExitHandler() {
    UseAtExit(clientFirst ? "atexit handler registered before the first use" : "atexit handler");
}

// Constructed while the program starts, before main uses the manager for the first time.
struct EarlyClient {
    EarlyClient() {
        if (std::getenv("MVCORE_EXIT_ORDER_CLIENT_FIRST") != nullptr) {
            clientFirst = true;
            std::atexit(AtExitHandler);
        }
    }
    ~EarlyClient() {
        if (clientFirst) UseAtExit("global constructed before the first use");
    }
} earlyClient;

} // namespace

int main(int argc, char** argv) {
    const bool wantClientFirst = argc > 1 && std::strcmp(argv[1], "client-first") == 0;
    const bool wantManagerFirst = argc > 1 && std::strcmp(argv[1], "manager-first") == 0;
    if (!wantClientFirst && !wantManagerFirst) {
        std::fprintf(stderr, "usage: %s client-first|manager-first\n", argv[0]);
        return 2;
    }
    if (wantClientFirst != clientFirst) {
        std::fprintf(stderr, "client-first needs MVCORE_EXIT_ORDER_CLIENT_FIRST in the environment\n");
        return 2;
    }
    LogManager* manager = GetLogManagerPrivate();
    if (manager->AddLogger(&logger) != Error::Ok) return 1;
    if (wantManagerFirst) {
        // Constructed after the manager's first use, so destroyed before anything older at exit.
        static ClientAllocator allocator;
        if (RegisterAllocator(&allocator) != Error::Ok) return 1;
        if (InitializeCore(0) != Error::Ok) return 1;
        static ClientObject lateClient{"global constructed after the first use"};
        std::atexit(AtExitHandler);
    }
    manager->MuteWarning(MutedId);
    UseAtExit("main");
    std::printf("checks run at exit\n");
    return 0;
}
