// A host that does not link mvcore loads client libraries that do, the way a program loads plugins:
// a thread that counted through mvcore may outlive the unloaded client (and with it the last reference
// to mvcore), and a client may start a job system from a global constructor, which the loader runs (on
// Windows under the loader lock, where waiting for a new thread never ends).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using Function = int (*)();

#if defined(_WIN32)
void* Load(const char* path) {
    return LoadLibraryA(path);
}
void Unload(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}
Function Find(void* library, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)));
}
bool MvcoreLoaded() {
    return GetModuleHandleA("mvcore.dll") != nullptr;
}
// A thread stuck in the loader holds its lock, and an orderly exit would wait for that lock too.
[[noreturn]] void AbandonProcess() {
    TerminateProcess(GetCurrentProcess(), 1);
    for (;;) {
    }
}
#else
void* Load(const char* path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
void Unload(void* library) {
    dlclose(library);
}
Function Find(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}
bool MvcoreLoaded() {
    void* library = dlopen(MVCORE_LIBRARY_NAME, RTLD_NOW | RTLD_NOLOAD);
    if (library != nullptr) dlclose(library);
    return library != nullptr;
}
[[noreturn]] void AbandonProcess() {
    std::_Exit(1);
}
#endif

// Runs `step` on a thread of its own and waits at most `limit` for it; a step that does not return by
// then ends the test program (the thread could not be joined).
template <class Step> void WithinOrAbandon(std::chrono::seconds limit, const char* what, Step step) {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::thread thread([&] {
        step();
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, limit, [&] { return done; })) {
        std::fprintf(stderr, "FAILED: %s did not return within %d s\n", what,
                     static_cast<int>(limit.count()));
        std::fflush(stderr);
        AbandonProcess();
    }
    lock.unlock();
    thread.join();
}

} // namespace

TEST(ClientLibrary, AThreadThatCountedThroughAnUnloadedClientEndsCleanly) {
    ASSERT_FALSE(MvcoreLoaded()) << "the host must not bring mvcore in by itself";
    void* client = Load(MVCORE_LOAD_CLIENT);
    ASSERT_NE(client, nullptr);
    const Function allocate = Find(client, "MvcoreClientAllocate");
    ASSERT_NE(allocate, nullptr);

    std::mutex mutex;
    std::condition_variable changed;
    bool allocated = false, unloaded = false;
    int result = 0;
    std::thread counting([&] {
        result = allocate();
        std::unique_lock<std::mutex> lock(mutex);
        allocated = true;
        changed.notify_all();
        changed.wait(lock, [&] { return unloaded; });
        // Ends after the unload: the library's thread-exit notification must not call into freed code.
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return allocated; });
    }
    Unload(client);
    // mvcore stays loaded on purpose: threads may still hold what it gave them.
    EXPECT_TRUE(MvcoreLoaded());
    {
        std::lock_guard<std::mutex> lock(mutex);
        unloaded = true;
        changed.notify_all();
    }
    counting.join();
    EXPECT_EQ(result, 1);
    // Loading the client again finds the same, still working library.
    client = Load(MVCORE_LOAD_CLIENT);
    ASSERT_NE(client, nullptr);
    int again = 0;
    std::thread([&] { again = Find(client, "MvcoreClientAllocate")(); }).join();
    EXPECT_EQ(again, 1);
    Unload(client);
}

TEST(ClientLibrary, AJobSystemStartedWhileTheClientLoadsRunsItsJobs) {
    void* client = nullptr;
    WithinOrAbandon(std::chrono::seconds(20), "loading a client that starts a job system",
                    [&] { client = Load(MVCORE_LOAD_CLIENT_JOBS); });
    ASSERT_NE(client, nullptr);
    const Function initResult = Find(client, "MvcoreClientInitResult");
    const Function jobsRun = Find(client, "MvcoreClientJobsRun");
    const Function stopJobs = Find(client, "MvcoreClientStopJobs");
    ASSERT_TRUE(initResult != nullptr && jobsRun != nullptr && stopJobs != nullptr);
    EXPECT_EQ(initResult(), 0) << "Error::Ok";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (jobsRun() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(jobsRun(), 1) << "the job scheduled while the client loaded";
    WithinOrAbandon(std::chrono::seconds(20), "stopping the client's job system",
                    [&] { EXPECT_EQ(stopJobs(), 0); });
    Unload(client);
}
