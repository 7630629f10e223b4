#pragma once

#include <string>

namespace mplg {

// Double-quoted with JSON escapes; used by the dump lines and the trace alike.
std::string Quoted(const std::string& text);
// Shortest text that reads back as the same double; non-finite values become 0.
std::string Number(double value);

} // namespace mplg
