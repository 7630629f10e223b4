#include "pack/packer.h"

#include "coder/archive_writer.h"
#include "driver/unpacker.h"
#include "pack/ogg_scan.h"
#include "vorbis/stream_item_driver.h"

#include <cstring>
#include <new>

namespace {

// One complete Vorbis logical stream as a stream item; false (and nothing written) when the stream
// cannot be expressed.
bool add_stream_item(ArchiveWriter& writer, StreamDriver& driver, const uint8_t* data, const OggScan& scan,
                     const ScanRun& run) {
    std::vector<OriginalPage> pages;
    for (size_t i = run.first_page; i < run.first_page + run.page_count; ++i)
        pages.push_back({data + scan.pages[i].offset, static_cast<uint32_t>(scan.pages[i].size)});
    const ArchiveWriterMark mark = writer_mark(writer);
    writer_begin_stream_item(writer, false);
    RangeEncoder aux, page, body;
    init_encoder(aux);
    init_encoder(page);
    init_encoder(body);
    if (pack_stream_item(driver, pages.data(), pages.size(), false, writer.control, writer.control_probs, aux,
                         page, body, run.end - run.begin) &&
        writer_end_stream_item(writer, aux, page, body))
        return true;
    writer_rollback(writer, mark);
    return false;
}

std::vector<uint8_t> build_archive(const uint8_t* data, size_t size, const PackOptions& options,
                                   bool model_streams) {
    ArchiveWriter writer;
    writer_init(writer, options.flags);
    StreamDriver* driver = nullptr;
    if (model_streams) {
        driver = create_stream_driver(options.flags & kFlagsSlotSelectorMask,
                                      (options.flags & kFlagsCarryOver) != 0);
        if (!driver) throw std::bad_alloc();
    }
    const OggScan scan = driver ? scan_ogg(data, size) : OggScan{};
    if (!driver) writer_add_raw_bytes(writer, data, size, options.max_raw_item);
    for (const ScanRun& run : scan.runs) {
        if (run.vorbis && run.complete && add_stream_item(writer, *driver, data, scan, run)) continue;
        writer_add_raw_bytes(writer, data + run.begin, run.end - run.begin, options.max_raw_item);
    }
    destroy_stream_driver(driver);
    return writer_finish(writer);
}

} // namespace

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
        // Modelled streams first; should the proof fail, every byte is stored verbatim instead.
        archive = build_archive(data, size, options, true);
        if (verify_archive(archive, data, size)) return PackStatus::Ok;
        archive = build_archive(data, size, options, false);
    } catch (const std::bad_alloc&) {
        return PackStatus::OutOfMemory;
    }
    return verify_archive(archive, data, size) ? PackStatus::Ok : PackStatus::VerifyFailed;
}
