#include "Marvane/Utilities/BmpFile.h"

#include "Marvane/Platform/AsyncWriter.h"

namespace Marvane::Utilities {

// The file goes out in one write through the performance log's appending writer. A write or close
// that fails is reported as IO: the caller would otherwise believe a truncated file complete.
Error::Enum BmpFile::WriteBitmap(void* pixels, unsigned int width, unsigned int height,
                                 unsigned int bytesPerPixel, const wchar_t* path) {
    if (path == nullptr) return Error::InvalidParameter;
    Array<unsigned char> file;
    const Error::Enum built = WriteBitmap(pixels, width, height, bytesPerPixel, file);
    if (built != Error::Ok) return built;
    AsyncWriter writer;
    const Error::Enum opened = writer.Open(path);
    if (opened != Error::Ok) return opened;
    const Error::Enum written = writer.Write(file.GetData(), file.GetCount());
    const Error::Enum waited = writer.Wait();
    const Error::Enum closed = writer.Close();
    if (written != Error::Ok || waited != Error::Ok || closed != Error::Ok) return Error::IO;
    return Error::Ok;
}

} // namespace Marvane::Utilities
