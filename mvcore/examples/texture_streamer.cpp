// A small texture streamer on mvcore, the way a renderer uses the library: a frame loop on the main
// thread asks for texture tiles around a moving camera, a job system loads them on its worker
// (decompressing FastLZ blocks into allocator memory, checked with CRC-32), and the frame loop takes the
// loaded tiles in and evicts what it no longer needs. The performance monitor counts and times it all and
// writes a performance log, which mplg turns into a report or a Chrome trace.
//
//   texture_streamer LOG.mplg [FRAMES]
#include "Marvane/Allocator.h"
#include "Marvane/Core.h"
#include "Marvane/Graphics/GraphicsDriver.h"
#include "Marvane/Graphics/TextureFormat.h"
#include "Marvane/JobSystem.h"
#include "Marvane/Performance/PerformanceMonitor.h"
#include "Marvane/Platform/CriticalSection.h"
#include "Marvane/Platform/Time.h"
#include "Marvane/Utilities/Compressor.h"
#include "Marvane/Utilities/Crc32Calculation.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace Marvane;
using Performance::StatisticId;

namespace {

constexpr int TileSize = 128;                                      // pixels
constexpr int GridSize = 16;                                       // tiles along each side of the texture
constexpr int ResidencyBudget = 48;                                // tiles kept loaded
constexpr unsigned SourceTiles = 8;                                // distinct tile contents on "disk"
const ContextInfo Context{__FILE__, __LINE__, "texture streamer"}; // every allocation of this program

struct Statistics {
    StatisticId frame, request, load, tilesLoaded, resident, uploaded;
};
Statistics stats;
Performance::PerformanceMonitor* monitor = nullptr;

// A compressed tile as it would be read from disk.
struct StoredTile {
    std::vector<unsigned char> block;
    unsigned int crc = 0;
};
std::vector<StoredTile> disk;
std::uint64_t tileBytes = 0;

// One request: where the tile is, how urgent, and what the worker made of it.
struct TileRequest {
    int x = 0, y = 0;
    unsigned priority = 0;
    std::uint64_t rangeHandle = 0; // BeginRange at the request, EndRange once loaded
    void* pixels = nullptr;
    bool valid = false;
};

// Loaded tiles wait here until the frame loop takes them in.
Platform::CriticalSection finishedLock;
std::vector<TileRequest*> finished;

// BC1 tiles with a pattern per tile, compressed at level 2.
void MakeDisk() {
    tileBytes = Graphics::GetRectangleSize(Graphics::TextureFormat::BC1, TileSize, TileSize);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(tileBytes));
    for (unsigned t = 0; t < SourceTiles; ++t) {
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<unsigned char>((i / 8 % 16 == t ? 0xF0 : 0x10) + (i % 8) * t);
        StoredTile stored;
        stored.block.resize(static_cast<std::size_t>(Utilities::Compressor::CalculateBufferSize(tileBytes)));
        stored.block.resize(static_cast<std::size_t>(
            Utilities::Compressor::Compress_level(2, pixels.data(), tileBytes, stored.block.data())));
        Utilities::Crc32Calculation crc;
        stored.crc = crc.AddBytes(pixels.data(), tileBytes);
        disk.push_back(std::move(stored));
    }
}

// On the worker: the tile's bytes come from "disk" into allocator memory.
void LoadTile(void* job) {
    auto* request = static_cast<TileRequest*>(job);
    monitor->PushRange(stats.load);
    const StoredTile& stored = disk[static_cast<unsigned>(request->x * 7 + request->y) % SourceTiles];
    request->pixels = GetAllocator()->Alloc(tileBytes, AllocationCategory::TileSet, Context);
    if (request->pixels != nullptr) {
        const std::uint64_t size = Utilities::Compressor::Decompress(stored.block.data(), stored.block.size(),
                                                                     request->pixels, tileBytes);
        Utilities::Crc32Calculation crc;
        request->valid = size == tileBytes && crc.AddBytes(request->pixels, size) == stored.crc;
    }
    monitor->CounterInc(stats.tilesLoaded);
    monitor->PopRange();
    monitor->EndRange(request->rangeHandle);
    Platform::ScopedCriticalSection held(finishedLock);
    finished.push_back(request);
}

// Closer tiles first.
unsigned TilePriority(void* job) {
    return static_cast<TileRequest*>(job)->priority;
}

StatisticId Register(const wchar_t* name, const wchar_t* description, const wchar_t* unit, double scale,
                     Performance::StatisticValueMethod::Enum method, Performance::StatisticGroupId group) {
    Performance::StatisticOptions options;
    options.description = description;
    options.unit = unit;
    options.scale = scale;
    options.defaultMethod = method;
    options.group = group;
    return monitor->RegisterStatistic(name, Performance::StatisticType::Counter, options);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LOG.mplg [FRAMES]\n", argv[0]);
        return 2;
    }
    const int frames = argc > 2 ? std::atoi(argv[2]) : 120;
    const std::string logPath = argv[1];
    const std::wstring wideLogPath = std::filesystem::path(logPath).wstring();

    InitializeCore(0);
    monitor = Performance::GetPerformanceMonitor();
    namespace StatisticValueMethod = Performance::StatisticValueMethod;
    const double ticksToMs = 1000.0 / static_cast<double>(Platform::GetTicksPerSecond());
    const Performance::StatisticGroupId group = monitor->RegisterGroup(L"Streamer");
    stats.frame = Register(L"Frame", L"Time of the frame loop", L"ms", ticksToMs,
                           StatisticValueMethod::PerFrame, group);
    stats.request = Register(L"Tile request", L"Tile requests, from request to loaded tile", L"requests", 1.0,
                             StatisticValueMethod::PerFrame, group);
    stats.load = Register(L"Tile load", L"Time the worker spends loading tiles", L"ms", ticksToMs,
                          StatisticValueMethod::PerFrame, group);
    stats.tilesLoaded = Register(L"Tiles loaded", L"Tiles loaded by the worker", L"tiles", 1.0,
                                 StatisticValueMethod::PerFrame, group);
    stats.resident =
        Register(L"Resident tiles", L"Tiles in memory", L"tiles", 1.0, StatisticValueMethod::Value, group);
    stats.uploaded = Register(L"Uploaded", L"Tile bytes handed to the renderer", L"KiB", 1.0 / 1024.0,
                              StatisticValueMethod::PerFrame, group);
    monitor->RegisterCurrentThread(L"Render thread");
    MakeDisk();

    // A capture started through the environment (MARVANE_DEBUGGER, MARVANE_DEBUG_LOG) is used as it is.
    const bool ownCapture = !monitor->IsCapturing();
    if (ownCapture && monitor->StartRecord(wideLogPath.c_str()) != Error::Ok) {
        std::fprintf(stderr, "cannot write the performance log %s\n", logPath.c_str());
        return 1;
    }
    Platform::JobSystem loader;
    if (loader.Init(L"Texture loader", LoadTile, nullptr, TilePriority) != Error::Ok) {
        std::fprintf(stderr, "cannot start the texture loader\n");
        return 1;
    }

    // Which tiles are resident or on their way, and which requests are in flight.
    std::vector<TileRequest*> grid(GridSize * GridSize, nullptr);
    std::vector<int> residentOrder; // tile indices, oldest first
    long requested = 0, loaded = 0, broken = 0, evicted = 0;
    for (int frame = 0; frame < frames; ++frame) {
        monitor->PushRange(stats.frame);
        // The camera sweeps over the texture; the tiles around it are wanted, the nearest first.
        const int cameraX = frame / 4 % GridSize;
        const int cameraY = frame / 16 % GridSize;
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                const int x = (cameraX + dx + GridSize) % GridSize, y = (cameraY + dy + GridSize) % GridSize;
                TileRequest*& slot = grid[static_cast<std::size_t>(y * GridSize + x)];
                if (slot != nullptr) continue;
                slot = new TileRequest{x, y,
                                       static_cast<unsigned>(8 - (dx < 0 ? -dx : dx) - (dy < 0 ? -dy : dy))};
                slot->rangeHandle = monitor->BeginRange(stats.request);
                if (!loader.Schedule(slot)) {
                    monitor->EndRange(slot->rangeHandle);
                    delete slot;
                    slot = nullptr;
                    continue;
                }
                ++requested;
            }
        }
        // Loaded tiles go to the renderer.
        std::vector<TileRequest*> arrived;
        {
            Platform::ScopedCriticalSection held(finishedLock);
            arrived.swap(finished);
        }
        for (TileRequest* request : arrived) {
            ++loaded;
            if (!request->valid) ++broken;
            monitor->CounterAdd(stats.uploaded, static_cast<int>(tileBytes));
            monitor->CounterInc(stats.resident);
            residentOrder.push_back(request->y * GridSize + request->x);
        }
        // Over budget: the oldest resident tiles go.
        while (residentOrder.size() > static_cast<std::size_t>(ResidencyBudget)) {
            TileRequest*& slot = grid[static_cast<std::size_t>(residentOrder.front())];
            residentOrder.erase(residentOrder.begin());
            GetAllocator()->Free(slot->pixels, Context);
            delete slot;
            slot = nullptr;
            monitor->CounterDec(stats.resident);
            ++evicted;
        }
        // Stand-in for drawing the frame.
        void* commands = GetAllocator()->Alloc(64 * 1024, AllocationCategory::Temporary, Context);
        Platform::Sleep(4);
        GetAllocator()->Free(commands, Context);
        monitor->PopRange();
        GlobalGraphicsDriver.Tick();
        monitor->Tick();
    }

    loader.Stop(); // runs what is still queued
    {
        Platform::ScopedCriticalSection held(finishedLock);
        loaded += static_cast<long>(finished.size());
        finished.clear();
    }
    const double residentTiles = monitor->GetStatisticValue(stats.resident, StatisticValueMethod::Value);
    unsigned int total = 0;
    monitor->FindStatistic(L"Memory", L"Total", total);
    const double memory = monitor->GetStatisticValue(total, StatisticValueMethod::Value);
    for (TileRequest* request : grid) {
        if (request == nullptr) continue;
        GetAllocator()->Free(request->pixels, Context);
        delete request;
    }
    const Error::Enum stopped = ownCapture ? monitor->StopRecord() : Error::Ok;
    ReleaseCore();

    std::printf("   %d frames: %ld tiles requested, %ld loaded (%ld damaged), %ld evicted; %.0f resident "
                "(%.2f MiB through the allocator)\n",
                frames, requested, loaded, broken, evicted, residentTiles, memory);
    if (stopped != Error::Ok) {
        std::fprintf(stderr, "the performance log %s could not be written completely\n", logPath.c_str());
        return 1;
    }
    std::printf("   performance log: %s\n",
                ownCapture ? logPath.c_str() : "the capture started by MARVANE_DEBUG_LOG");
    return broken == 0 ? 0 : 1;
}
