// talvo-pack on arbitrary input: every archive it produces must unpack to exactly that input. The
// first two bytes choose the archive flags and the raw item size, so one corpus covers them all.

#include "pack/packer.h"
#include "unpack/unpacker.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    PackOptions options;
    options.flags = static_cast<uint8_t>(data[0] & 0x0B);
    if (data[1] != 0) options.max_raw_item = size_t{data[1]} * 17;
    data += 2;
    size -= 2;

    std::vector<uint8_t> archive;
    const PackStatus status = pack_archive(data, size, archive, options);
    if (status == PackStatus::OutOfMemory) return 0;
    if (status != PackStatus::Ok) std::abort(); // the packer's own verification failed

    // Check independently of the packer's verification, which could share a fault with it.
    std::vector<uint8_t> restored;
    OutputSink sink = vector_sink(restored);
    if (unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, sink) != UnpackStatus::Ok)
        std::abort();
    if (restored.size() != size || (size != 0 && std::memcmp(restored.data(), data, size) != 0)) std::abort();
    return 0;
}
