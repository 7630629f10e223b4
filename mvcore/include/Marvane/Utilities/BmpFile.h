#pragma once

#include "Marvane/Array.h"
#include "Marvane/Error.h"
#include "Marvane/Export.h"

namespace Marvane::Utilities {

// Writes uncompressed BMP files: a 54-byte header followed by the caller's pixel bytes exactly as
// given (rows in file order, bottom-up; channels in file order; no row padding is added).
class BmpFile {
  public:
    // Builds the whole file in `file`, which must be empty. InvalidParameter for a null pixel
    // pointer, a zero width or height, bytes per pixel outside 1..4, or a file that would not fit the
    // format's 32-bit sizes.
    MARVANE_API static Error::Enum WriteBitmap(void* pixels, unsigned int width, unsigned int height,
                                               unsigned int bytesPerPixel, Array<unsigned char>& file);

    // Builds the file in memory and writes it to `path`. Ok once the file could be opened.
    MARVANE_API static Error::Enum WriteBitmap(void* pixels, unsigned int width, unsigned int height,
                                               unsigned int bytesPerPixel, const wchar_t* path);
};

} // namespace Marvane::Utilities
