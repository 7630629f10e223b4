#include "command_line.h"

#include <cstdio>
#include <vector>

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    const std::vector<splice_tool::Argument> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return splice_tool::run_command_line(arguments, stderr);
}
