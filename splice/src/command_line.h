#pragma once

#include <cstdio>
#include <filesystem>
#include <vector>

namespace splice_tool {

// One command-line argument in the platform's own encoding (UTF-16 on Windows).
using Argument = std::filesystem::path::string_type;

// Runs splice with the arguments that follow the program name. Prints nothing on success; a failure
// prints one "splice: ..." line to `errors`. Returns the exit code: 0 done, 1 a file could not be
// opened, read or written, 2 a bad command line.
int run_command_line(const std::vector<Argument>& arguments, std::FILE* errors);

} // namespace splice_tool
