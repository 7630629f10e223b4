// The mplg reader on arbitrary files, and every command on whatever it read: a damaged or hostile log
// ends in a message or in a shorter listing, never in a crash, a hang or unbounded memory.

#include "commands.h"
#include "log_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// The reader takes a path; each fuzzing process keeps one scratch file, in memory where it can.
const std::string& scratch_path() {
    static const std::string path = [] {
        const std::filesystem::path dir =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        return (dir / ("mplg-fuzz-" + std::to_string(getpid()) + ".mplg")).string();
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(scratch_path(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    mplg::Log log;
    std::string error;
    if (!mplg::ReadLog(scratch_path(), log, error)) {
        if (error.empty()) std::abort(); // a refusal must say why
        return 0;
    }
    if (log.fileSize != size || log.wholeRecordsEnd > size) std::abort();
    for (const mplg::Record& record : log.records)
        if (record.offset >= size) std::abort();
    std::ostringstream sink;
    mplg::Dump(log, sink);
    mplg::Stats(log, sink);
    mplg::Trace(log, sink);
    return 0;
}
