#pragma once

#include "Marvane/Export.h"

#include <cstdint>

namespace Marvane::Utilities {

// A running CRC-32 (the checksum of zlib, PNG and Ogg's neighbours: reflected polynomial 0xEDB88320,
// final complement). Bytes may arrive in any number of pieces; each AddBytes returns the checksum of
// everything added so far.
//
// The object is a plain aggregate so that client code decides where the register starts; the default
// start of all ones makes the first result the standard CRC-32 of the data.
class MARVANE_API Crc32Calculation {
  public:
    // The complement of the checksum of every byte added so far.
    unsigned int RunningRegister = 0xFFFFFFFFu;
    // What the last AddBytes returned.
    unsigned int LastResult = 0;

    // Adds the bytes and returns the CRC-32 of everything added so far. Null data or an empty range
    // returns 0 and leaves the calculation as it was.
    unsigned int AddBytes(const void* data, std::uint64_t size);
};

} // namespace Marvane::Utilities
