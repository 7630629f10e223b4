#include "pack/stream_modeller.h"

#include "archive/archive_format.h"
#include "archive/repeat_item.h"
#include "archive/stream_item_driver.h"

#include <cstdint>
#include <vector>

// The packer keeps its own stream item driver, the mirror of the one the unpacker builds from the same
// flags byte, and lets it model each stream against the state the unpacker will have.

struct StreamModeller {
    StreamDriver* driver = nullptr;
};

StreamModeller* create_stream_modeller(uint8_t flags) {
    StreamDriver* driver =
        create_stream_driver(flags & kFlagsSlotSelectorMask, (flags & kFlagsCarryOver) != 0);
    if (!driver) return nullptr;
    return new StreamModeller{driver};
}

void destroy_stream_modeller(StreamModeller* modeller) {
    if (!modeller) return;
    destroy_stream_driver(modeller->driver);
    delete modeller;
}

bool stream_modelling_available() {
    return true;
}

bool repeat_items_available() {
    return true;
}

bool header_copies_available() {
    return true;
}

bool model_stream_item(StreamModeller& modeller, ArchiveWriter& writer, const OggPage* pages, size_t count,
                       const StreamChoices& choices, StreamOutcome& outcome, std::string& why) {
    outcome = {};

    const bool copy = choices.header_copy >= 0;
    if (copy)
        set_packing_header_copy(*modeller.driver, static_cast<uint32_t>(choices.header_copy),
                                choices.header_copy_pages);
    set_packing_capture(*modeller.driver, choices.capture_headers);
    const ArchiveWriterMark mark = writer_mark(writer);
    writer_begin_stream_item(writer, choices.remember);
    RangeEncoder aux, page, data;
    init_encoder(aux);
    init_encoder(page);
    init_encoder(data);
    if (!pack_stream_item(*modeller.driver, pages, count, choices.remember, writer.control,
                          writer.control_probs, aux, page, data, SIZE_MAX)) {
        writer_rollback(writer, mark);
        why = "the encoder made a choice the model cannot express";
        return false;
    }
    if (!writer_end_stream_item(writer, aux, page, data)) {
        writer_rollback(writer, mark);
        why = "a sub-stream is too long for the archive";
        return false;
    }
    outcome.remembered = choices.remember;
    outcome.captured = !copy && choices.capture_headers;
    return true;
}

bool model_repeat_item(StreamModeller& modeller, ArchiveWriter& writer, uint32_t index, uint32_t serial) {
    const ArchiveWriterMark mark = writer_mark(writer);
    writer_begin_repeat_item(writer);
    if (pack_repeat_item(*modeller.driver, writer.control, index, serial)) return true;
    writer_rollback(writer, mark);
    return false;
}
