#pragma once

#include <cstddef>

namespace Marvane::Platform::Detail {

// Copies the environment variable `name` into `buffer` (always NUL-terminated). False, with an empty
// buffer, when the variable is missing, empty, longer than the buffer, or (on POSIX systems, where the
// environment holds bytes) not valid UTF-8: the library's variables name files, and a damaged name
// would name another file. Allocates nothing.
bool ReadEnvironment(const wchar_t* name, wchar_t* buffer, std::size_t capacity);

} // namespace Marvane::Platform::Detail
