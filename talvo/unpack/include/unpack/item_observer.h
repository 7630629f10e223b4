#pragma once

// What an unpack run tells an onlooker about each item as it goes (listing and testing archives): the
// item's kind when it starts, and when it ends how it ended, what it occupied in the archive and what
// the stream item driver knows of it. Restored bytes themselves go to the run's output sink.

#include "archive/archive_format.h"

#include <cstdint>

struct ItemReport {
    ItemKind kind = ItemKind::Raw;
    ItemResult result = ItemResult::Done;
    uint32_t archive_bytes = 0;  // after the control block: length codes and sub-streams (0 for repeats)
    bool headers_copied = false; // stream items: the header pages came from an earlier stream
    int32_t slots_used = 0;      // codebook model slots in use once the item is over
};

struct ItemObserver {
    void* context = nullptr;
    void (*item_begins)(void* context, ItemKind kind) = nullptr;
    void (*item_ends)(void* context, const ItemReport& report) = nullptr;
};
