#pragma once

#include <stdexcept>
#include <string>

namespace splice_tool {

// The process exit codes: success, a file problem, a command-line problem.
enum class ExitCode : int { success = 0, failure = 1, usage = 2 };

// Every failure ends the run; the message goes to standard error and the code becomes the exit code.
class SpliceError : public std::runtime_error {
  public:
    SpliceError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

  private:
    ExitCode code_;
};

} // namespace splice_tool
