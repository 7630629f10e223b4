#pragma once

// The command line a Windows child process gets: one string, which the child splits back into its
// arguments (CommandLineToArgvW, or the C runtime's equivalent rules). Kept apart from the process
// runner so that the quoting can be checked on every platform.

#include <string>
#include <vector>

// One argument, quoted only where the child's parser would otherwise split or change it: backslashes
// count only before a double quote, so they are doubled there.
std::wstring quote_windows_argument(const std::wstring& argument);

// The program (always quoted: the parser takes the first word literally, up to the next quote or
// blank) followed by the quoted arguments.
std::wstring windows_command_line(const std::wstring& program, const std::vector<std::wstring>& arguments);
