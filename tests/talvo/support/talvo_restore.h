#pragma once

// Restores an archive with the talvo program of the build under test (natively or, in the Windows build,
// as talvo.exe under wine) into a scratch file, and reads the result back.

#include "run_program.h"
#include "test_data.h"

#include <filesystem>
#include <string>
#include <vector>

struct ProgramRestore {
    ProgramRun run;
    std::vector<uint8_t> restored;
};

inline ProgramRestore restore_with_talvo(const std::filesystem::path& archive) {
    const std::filesystem::path out = std::filesystem::temp_directory_path() /
                                      ("talvo_restore_" + std::to_string(current_process_id()) + ".ogg");
    std::filesystem::remove(out);
    ProgramRestore result;
    result.run = run_program(program_path("talvo"), {archive.string(), out.string()});
    result.restored = read_data_file(out);
    std::filesystem::remove(out);
    return result;
}
