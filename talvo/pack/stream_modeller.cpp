#include "pack/stream_modeller.h"

#include "coder/archive_format.h"
#include "vorbis/stream_item_driver.h"

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

// The unpacker has no repeat item yet, and the header codec always codes a stream's own headers.
bool repeat_items_available() {
    return false;
}

bool header_copies_available() {
    return false;
}

bool model_stream_item(StreamModeller& modeller, ArchiveWriter& writer, const PageSpan* pages, size_t count,
                       const StreamChoices& choices, StreamOutcome& outcome, std::string& why) {
    outcome = {};
    std::vector<OriginalPage> originals;
    originals.reserve(count);
    for (size_t i = 0; i < count; ++i)
        originals.push_back(OriginalPage{pages[i].data, pages[i].size});

    const ArchiveWriterMark mark = writer_mark(writer);
    writer_begin_stream_item(writer, choices.remember);
    RangeEncoder aux, page, data;
    init_encoder(aux);
    init_encoder(page);
    init_encoder(data);
    if (!pack_stream_item(*modeller.driver, originals.data(), originals.size(), choices.remember,
                          writer.control, writer.control_probs, aux, page, data)) {
        writer_rollback(writer, mark);
        why = "the encoder made a choice the model cannot express";
        return false;
    }
    if (!writer_end_stream_item(writer, aux, page, data)) {
        writer_rollback(writer, mark);
        why = "a sub-stream is too long for the archive";
        return false;
    }
    // The header codec captures every header set it codes itself.
    outcome.remembered = choices.remember;
    outcome.captured = true;
    return true;
}

bool model_repeat_item(StreamModeller&, ArchiveWriter&, uint32_t, uint32_t) {
    return false;
}
