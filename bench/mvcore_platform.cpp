// Costs of the platform layer's hot calls: an uncontended critical section, interlocked operations,
// reading the high-resolution counter, and sequential file reads with and without the system cache.
// Usage: bench_mvcore_platform [directory for the 256 MiB test file]
#include "Marvane/Platform.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace Marvane;

namespace {

template <typename Body> double NanosecondsPerCall(long calls, Body body) {
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i)
        body();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(calls);
}

double ReadThroughput(const std::wstring& path, bool unbuffered, u64 fileSize, u32 chunk, void* buffer) {
    void* handle = nullptr;
    if (Platform::OpenFile(path.c_str(), unbuffered, false, handle) != Error::Ok) return -1;
    const auto start = std::chrono::steady_clock::now();
    u32 read = 0;
    for (u64 done = 0; done < fileSize; done += chunk)
        if (Platform::ReadFile(handle, buffer, chunk, read) != Error::Ok) break;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Platform::CloseFile(handle);
    return static_cast<double>(fileSize) / seconds / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const long calls = 20000000;
    Platform::CriticalSection lock;
    std::printf("CriticalSection Enter+Leave (uncontended): %.2f ns\n", NanosecondsPerCall(calls, [&] {
                    lock.Enter();
                    lock.Leave();
                }));
    int counter = 0;
    std::printf("InterlockedInc:                           %.2f ns\n",
                NanosecondsPerCall(calls, [&] { Platform::InterlockedInc(counter); }));
    volatile i64 sink = 0;
    std::printf("GetTimeTicks:                             %.2f ns\n",
                NanosecondsPerCall(calls / 4, [&] { sink = sink + Platform::GetTimeTicks(); }));

    const std::filesystem::path dir =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    const std::wstring path = (dir / "mvcore-bench-read.bin").wstring();
    const u64 fileSize = u64{256} << 20;
    const u32 chunk = 1u << 20;
    void* buffer = Platform::AlignedAlloc(chunk, 4096);
    for (u32 i = 0; i < chunk; ++i)
        static_cast<unsigned char*>(buffer)[i] = static_cast<unsigned char>(i * 31);
    void* handle = nullptr;
    if (Platform::OpenFile(path.c_str(), false, true, handle) != Error::Ok) {
        std::printf("cannot create %ls\n", path.c_str());
        return 1;
    }
    for (u64 done = 0; done < fileSize; done += chunk)
        Platform::WriteFile(handle, buffer, chunk);
    Platform::CloseFile(handle);
    u32 sector = 0;
    const bool haveSector = Platform::GetDeviceBlockSize(path.c_str(), sector) == Error::Ok;
    std::printf("device block size: %s%u\n", haveSector ? "" : "unknown ", sector);
    std::printf("sequential 1 MiB reads, cached:     %.0f MB/s\n",
                ReadThroughput(path, false, fileSize, chunk, buffer));
    std::printf("sequential 1 MiB reads, unbuffered: %.0f MB/s\n",
                ReadThroughput(path, true, fileSize, chunk, buffer));
    Platform::AlignedFree(buffer);
    std::filesystem::remove(std::filesystem::path(path));
    return 0;
}
