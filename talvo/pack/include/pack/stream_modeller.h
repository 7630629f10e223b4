#pragma once

// The packer's side of stream and repeat items: it keeps the same long-lived state the unpacker keeps
// across items (models, codebook slots, page stores), so every item is coded against exactly what the
// unpacker will hold when it reads it.

#include "archive/archive_writer.h"
#include "ogg/ogg_page.h"

#include <cstddef>
#include <cstdint>
#include <string>

// What the packer decided for one stream item beyond its pages.
struct StreamChoices {
    bool remember = false;         // a later repeat item re-emits this stream
    bool capture_headers = false;  // a later stream copies this stream's comment and setup pages
    int32_t header_copy = -1;      // recency index of the header set this stream copies, or -1
    int32_t header_copy_pages = 0; // original pages (after the first) that the copy stands for
};

// What the stream item left behind in the stores (and so what later indices count).
struct StreamOutcome {
    bool remembered = false; // the stream store gained a record
    bool captured = false;   // the header store gained a record
};

struct StreamModeller;

// Null when memory runs out. `flags` is the archive's flags byte.
StreamModeller* create_stream_modeller(uint8_t flags);
void destroy_stream_modeller(StreamModeller* modeller);

// What this build can code: Vorbis streams at all (else every stream is stored raw), repeat items,
// and header sets copied from the header store.
bool stream_modelling_available();
bool repeat_items_available();
bool header_copies_available();

// Codes the pages of one Vorbis logical stream as a stream item. When the stream cannot be expressed,
// returns false with the reason in `why`, and the writer and the modeller are as before the call.
bool model_stream_item(StreamModeller& modeller, ArchiveWriter& writer, const OggPage* pages, size_t count,
                       const StreamChoices& choices, StreamOutcome& outcome, std::string& why);

// Codes a repeat item: the stream store's record `index` (0 = newest) under `serial`. False (writer
// unchanged) when this build has no repeat items.
bool model_repeat_item(StreamModeller& modeller, ArchiveWriter& writer, uint32_t index, uint32_t serial);
