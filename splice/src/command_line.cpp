#include "command_line.h"

#include "splice_error.h"
#include "splice_job.h"
#include "where_argument.h"

#include <exception>
#include <new>
#include <string>

namespace splice_tool {
namespace {

const char usage_text[] =
    "usage: splice TARGET SOURCE WHERE\n"
    "  writes SOURCE into TARGET at byte offset WHERE (hexadecimal, e.g. 1A00 or 0x1A00)\n"
    "  or, when WHERE is \"len\", at the end of TARGET; TARGET is never truncated\n";

// The offset argument holds only ASCII that matters; any other character is neither a hex digit nor
// part of "len", so it can stand in as '?'.
std::string ascii_text(const Argument& argument) {
    std::string text;
    text.reserve(argument.size());
    for (const auto c : argument) {
        const auto code = static_cast<unsigned long>(c);
        text.push_back(code < 0x80 ? static_cast<char>(code) : '?');
    }
    return text;
}

} // namespace

int run_command_line(const std::vector<Argument>& arguments, std::FILE* errors) {
    if (arguments.size() != 3) {
        std::fputs(usage_text, errors);
        return static_cast<int>(ExitCode::usage);
    }
    try {
        const SpliceRequest request{Path(arguments[0]), Path(arguments[1]),
                                    parse_where(ascii_text(arguments[2]))};
        run_splice(request);
        return static_cast<int>(ExitCode::success);
    } catch (const SpliceError& error) {
        std::fprintf(errors, "splice: %s\n", error.what());
        return static_cast<int>(error.code());
    } catch (const std::bad_alloc&) {
        std::fputs("splice: out of memory\n", errors);
        return static_cast<int>(ExitCode::failure);
    } catch (const std::exception& error) {
        std::fprintf(errors, "splice: %s\n", error.what());
        return static_cast<int>(ExitCode::failure);
    }
}

} // namespace splice_tool
