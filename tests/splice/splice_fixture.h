#pragma once

#include "process_runner.h"
#include "random_bytes.h"
#include "scratch_dir.h"
#include "splice_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace splice_test {

// Runs the real splice program on files in a scratch directory of its own.
class SpliceProgramTest : public ::testing::Test {
  protected:
    Path file(const std::string& name) const { return scratch_ / name; }

    ProcessRun splice(const std::vector<Path>& arguments, const ProcessOptions& options = {}) const {
        std::vector<std::string> texts;
        for (const Path& argument : arguments)
            texts.push_back(utf8_text(argument));
        return run_process(built_program("splice"), texts, options);
    }

    // A successful run prints nothing at all.
    void expect_silent_success(const ProcessRun& result) const {
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
    }

    // A failed run says why on standard error, in one "splice: " line, and nothing on standard output.
    void expect_failure(const ProcessRun& result, int exit_code, const std::string& reason_part) const {
        EXPECT_EQ(result.exit_code, exit_code) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(reason_part), std::string::npos) << result.err;
    }

    ScratchDir scratch_{"splice-test"};
};

} // namespace splice_test
