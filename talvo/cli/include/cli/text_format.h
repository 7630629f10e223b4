#pragma once

// printf into a std::string, for messages and listings that are assembled before they are printed.

#include <string>

#if defined(__MINGW32__)
#define TALVO_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2))) // mingw's ANSI printf: %zu, %llu
#else
#define TALVO_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#endif

std::string text_printf(const char* pattern, ...) TALVO_PRINTF_FORMAT;
