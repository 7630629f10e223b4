#include "pack/packer.h"

#include "coder/archive_writer.h"
#include "driver/unpacker.h"

#include <cstring>
#include <new>

bool verify_archive(const std::vector<uint8_t>& archive, const uint8_t* data, size_t size) {
    std::vector<uint8_t> restored;
    OutputSink sink = vector_output_sink(restored);
    const UnpackStatus status = unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, sink);
    return status == UnpackStatus::Ok && restored.size() == size &&
           (size == 0 || std::memcmp(restored.data(), data, size) == 0);
}

PackStatus pack_archive(const uint8_t* data, size_t size, std::vector<uint8_t>& archive,
                        const PackOptions& options) {
    try {
        ArchiveWriter writer;
        writer_init(writer, options.flags);
        // Every byte is stored verbatim for now: modelled Vorbis streams come as their own items later.
        writer_add_raw_bytes(writer, data, size, options.max_raw_item);
        archive = writer_finish(writer);
    } catch (const std::bad_alloc&) {
        return PackStatus::OutOfMemory;
    }
    return verify_archive(archive, data, size) ? PackStatus::Ok : PackStatus::VerifyFailed;
}
