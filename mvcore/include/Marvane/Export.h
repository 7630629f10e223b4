#pragma once

// MARVANE_API marks what the library exports: dllexport/dllimport on Windows, default visibility
// elsewhere (everything else is hidden).
#if defined(_WIN32)
#if defined(MVCORE_BUILDING)
#define MARVANE_API __declspec(dllexport)
#else
#define MARVANE_API __declspec(dllimport)
#endif
#else
#define MARVANE_API __attribute__((visibility("default")))
#endif
