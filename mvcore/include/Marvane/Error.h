#pragma once

#include "Marvane/Export.h"

namespace Marvane::Error {

// The result of every fallible operation of the library.
enum Enum {
    Ok = 0,
    InvalidParameter = 1,
    InvalidState = 2,
    OutOfMemory = 3,
    IO = 4,
    Graphics = 5,
    WouldBlock = 6,
    NotImplemented = 7,
    InvalidBitstream = 8,
    InvalidVersion = 9,
    UnknownTranscoder = 10,
    AlreadyRegistered = 11,
    Unknown = 12,
};

// The name of the code; "Unknown" for anything outside 0..12.
MARVANE_API const wchar_t* ToString(Enum code);

} // namespace Marvane::Error
