#pragma once

// Restores an archive with the talvo program of the build under test (natively or, in the Windows build,
// as talvo.exe under wine) into a scratch file, and reads the result back.

#include "process_runner.h"
#include "scratch_dir.h"
#include "test_data.h"

#include <filesystem>
#include <string>
#include <vector>

struct ProgramRestore {
    ProcessRun run; // standard output as console text
    std::vector<uint8_t> restored;
};

inline ProgramRestore restore_with_talvo(const std::filesystem::path& archive) {
    const ScratchDir dir("talvo-restore");
    const std::filesystem::path out = dir / "restored.ogg";
    ProcessOptions options;
    options.as_console_text = true;
    ProgramRestore result;
    result.run = run_process(built_program("talvo"), {utf8_text(archive), utf8_text(out)}, options);
    result.restored = read_data_file(out);
    return result;
}
