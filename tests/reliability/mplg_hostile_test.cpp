// The mplg reader and its commands on hostile logs: every input a fuzzer broke something with, and the
// same inputs with bits flipped at random. Each read ends with records or a message, and the commands
// cope with whatever was read (the sanitizer builds see overflows and stray accesses).

#include "hostile_inputs.h"
#include "scratch_dir.h"

#include "commands.h"
#include "log_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

void read_and_run_commands(const std::filesystem::path& path, size_t size) {
    mplg::Log log;
    std::string error;
    if (!mplg::ReadLog(path.string(), log, error)) {
        EXPECT_FALSE(error.empty()) << path;
        return;
    }
    EXPECT_LE(log.wholeRecordsEnd, size) << path;
    std::ostringstream sink;
    mplg::Dump(log, sink);
    mplg::Stats(log, sink);
    mplg::Trace(log, sink);
}

TEST(MplgHostile, FuzzerFindingsAndTheirMutationsAreReadOrRefused) {
    const auto inputs = regression_inputs("mplg_reader_");
    ASSERT_FALSE(inputs.empty());
    const auto scratch = program_scratch_dir() / "mplg_hostile.mplg";
    std::mt19937 rng(3);
    for (const auto& path : inputs) {
        const auto bytes = read_file_bytes(path);
        read_and_run_commands(path, bytes.size());
        for (int trial = 0; trial < 200 && !bytes.empty(); ++trial) {
            auto damaged = bytes;
            damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            {
                std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(damaged.data()),
                          static_cast<std::streamsize>(damaged.size()));
            }
            read_and_run_commands(scratch, damaged.size());
        }
    }
    std::filesystem::remove(scratch);
}

} // namespace
