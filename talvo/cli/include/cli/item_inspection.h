#pragma once

// Watching an unpack run item by item, for testing and listing archives and for progress: an output
// sink that counts what each item restores (and passes it on, or drops it), walks the Ogg pages in it
// (serial number, pages, packets, the setup header's codebook count) and checks the page checksums of
// raw items, whose bytes the format does not check otherwise; and the observer that closes each item.

#include "ogg/output_sink.h"
#include "unpack/item_observer.h"
#include "vorbis/codec_events.h"

#include <cstdint>
#include <string>
#include <vector>

struct ItemSummary {
    uint64_t number = 0; // 1 for the archive's first item
    ItemKind kind = ItemKind::Raw;
    ItemResult result = ItemResult::Done;
    uint32_t archive_bytes = 0;
    uint64_t restored_bytes = 0;
    bool headers_copied = false;
    int32_t slots_used = 0;
    bool has_serial = false; // the item begins with an Ogg page
    uint32_t serial = 0;
    uint64_t pages = 0;         // whole Ogg pages found from the item's start
    uint64_t packets = 0;       // packets ended on those pages
    int32_t codebooks = -1;     // from the stream's setup header; -1 when not seen
    uint64_t bad_page_crcs = 0; // raw items: whole pages whose checksum does not match
    uint32_t events = 0;        // bit 1 << CodecEvent for each kind the codecs reported
};

struct ItemInspection {
    bool keep_every_item = false; // listing; otherwise only items that failed are kept
    bool walk_pages = false;      // serial numbers, pages, packets
    bool check_raw_pages = false; // and the checksums of whole pages in raw items (testing, listing)
    OutputSink downstream;        // where restored bytes go on (no writer: nowhere)
    void (*on_item_end)(void* context, const ItemSummary& item) = nullptr; // progress
    void* on_item_end_context = nullptr;

    std::vector<ItemSummary> items;
    uint64_t item_count = 0;
    uint64_t restored_total = 0;
    uint64_t archive_item_bytes = 0;

    // The item under way.
    ItemSummary current;
    uint64_t packet_index = 0;  // packets ended so far in the item
    uint64_t packet_offset = 0; // bytes of the packet under way
    bool walk_stopped = false;  // bytes that are not a whole page ended the walk
};

// Every item whose result is not Done, or whose raw pages failed their checksum check.
inline bool item_failed(const ItemSummary& item) {
    return item.result != ItemResult::Done || item.bad_page_crcs > 0;
}

OutputSink inspection_sink(ItemInspection& inspection);
ItemObserver inspection_observer(ItemInspection& inspection);
// What the codecs report, marked on the item under way.
CodecEvents inspection_events(ItemInspection& inspection);
// The events marked on an item, in words ("" for none).
std::string event_words(uint32_t events);
