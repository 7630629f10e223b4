#include "cli/interrupt.h"

#include <atomic>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

constexpr int kSlotCount = 4096; // one per worker at most
constexpr size_t kPathCapacity = 4096;

enum SlotState : int { kFree, kFilling, kActive };

// Slots are claimed with a compare-exchange and their path buffers are never freed, so the handler
// reads only memory that stays valid whatever the other threads do.
std::atomic<int> g_slot_state[kSlotCount];
std::atomic<char*> g_slot_path[kSlotCount];
std::atomic<bool> g_interrupted{false};

#ifdef _WIN32
bool any_temp_file() {
    for (int i = 0; i < kSlotCount; ++i)
        if (g_slot_state[i].load() != kFree) return true;
    return false;
}

// Runs on a thread of its own. Without a temporary file open the default handling (ending the process
// at once) is right; with one, the writers see the flag, fail, remove their files and the program ends
// itself. A closing console ends the process when the handler returns, so it waits for that a while.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    g_interrupted.store(true);
    if (!any_temp_file()) return FALSE;
    if (event == CTRL_CLOSE_EVENT) Sleep(4000);
    return TRUE;
}
#else
void on_signal(int signal_number) {
    g_interrupted.store(true);
    for (int i = 0; i < kSlotCount; ++i)
        if (g_slot_state[i].load() == kActive) unlink(g_slot_path[i].load());
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}
#endif

// Paths are UTF-8; on Windows they reach the system as UTF-16.
void remove_path(const char* path) {
#ifdef _WIN32
    wchar_t wide[kPathCapacity];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, static_cast<int>(kPathCapacity)) > 0)
        DeleteFileW(wide);
#else
    unlink(path);
#endif
}

} // namespace

void install_interrupt_handlers() {
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    // SIGBUS too: a mapped input cut short by another program while it is packed ends the process,
    // but not before the temporary files of the other files at work are gone.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGBUS})
        std::signal(signal_number, on_signal);
    // A write past the file size limit (ulimit -f) then fails with EFBIG like any other failed write:
    // the file is reported and its temporary output removed, instead of the signal ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool interrupted() {
    return g_interrupted.load(std::memory_order_relaxed);
}

int register_temp_file(const char* path) {
    const size_t length = std::strlen(path);
    if (length >= kPathCapacity) return -1;
    for (int i = 0; i < kSlotCount; ++i) {
        int expected = kFree;
        if (!g_slot_state[i].compare_exchange_strong(expected, kFilling)) continue;
        char* buffer = g_slot_path[i].load();
        if (!buffer) {
            buffer = new (std::nothrow) char[kPathCapacity];
            if (!buffer) {
                g_slot_state[i].store(kFree);
                return -1;
            }
            g_slot_path[i].store(buffer);
        }
        std::memcpy(buffer, path, length + 1);
        g_slot_state[i].store(kActive);
        return i;
    }
    return -1;
}

void unregister_temp_file(int slot) {
    if (slot >= 0 && slot < kSlotCount) g_slot_state[slot].store(kFree);
}

void remove_temp_files() {
    for (int i = 0; i < kSlotCount; ++i) {
        int expected = kActive;
        if (!g_slot_state[i].compare_exchange_strong(expected, kFilling)) continue;
        remove_path(g_slot_path[i].load());
        g_slot_state[i].store(kFree);
    }
}
