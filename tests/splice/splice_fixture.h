#pragma once

#include "program_runner.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace splice_test {

// Runs the real splice program on files in a scratch directory of its own.
class SpliceProgramTest : public ::testing::Test {
  protected:
    SpliceProgramTest() : captures_(scratch_ / "captures") { std::filesystem::create_directory(captures_); }

    Path file(const std::string& name) const { return scratch_ / name; }

    RunResult splice(const std::vector<Path>& arguments, const RunOptions& options = {}) const {
        return run_program(splice_program(), arguments, captures_, options);
    }

    // A successful run prints nothing at all.
    void expect_silent_success(const RunResult& result) const {
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
    }

    // A failed run says why on standard error, in one "splice: " line, and nothing on standard output.
    void expect_failure(const RunResult& result, int exit_code, const std::string& reason_part) const {
        EXPECT_EQ(result.exit_code, exit_code) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(reason_part), std::string::npos) << result.err;
    }

    ScratchDir scratch_;
    Path captures_;
};

} // namespace splice_test
