#pragma once

#include <string>

namespace mplg {

// Double-quoted with JSON escapes; used by the dump lines and the trace alike.
std::string Quoted(const std::string& text);
// Shortest text that reads back as the same double; non-finite values become 0. For machine-read output.
std::string Number(double value);
// A figure for a person: whole numbers in full, others to six significant digits (no binary noise such as
// 494.49557699999997); non-finite values become 0.
std::string ReadableNumber(double value);

} // namespace mplg
