#include "cli/item_inspection.h"

#include "ogg/ogg_crc.h"
#include "ogg/ogg_page.h"

#include <cstring>

namespace {

constexpr uint8_t kSetupPacketType = 5;
constexpr uint64_t kSetupPacketIndex = 2;    // identification, comment, setup
constexpr uint64_t kCodebookCountOffset = 7; // after the packet type and "vorbis"

uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The size of the whole page at `bytes`, or 0 when none starts there or it does not fit in n bytes.
size_t whole_page_size(const uint8_t* bytes, size_t n) {
    if (n < kOggHeaderSize || std::memcmp(bytes, kOggCaptureBytes, sizeof kOggCaptureBytes) != 0) return 0;
    const size_t segments = bytes[kOggSegmentCount];
    if (n < kOggHeaderSize + segments) return 0;
    size_t size = kOggHeaderSize + segments;
    for (size_t i = 0; i < segments; ++i)
        size += bytes[kOggHeaderSize + i];
    return size <= n ? size : 0;
}

void walk_packets(ItemInspection& inspection, const uint8_t* page) {
    ItemSummary& item = inspection.current;
    const size_t segments = page[kOggSegmentCount];
    const uint8_t* body = page + kOggHeaderSize + segments;
    for (size_t i = 0; i < segments; ++i) {
        const uint8_t lacing = page[kOggHeaderSize + i];
        if (inspection.packet_index == kSetupPacketIndex && item.codebooks < 0) {
            const uint64_t start = inspection.packet_offset;
            if (start == 0 && lacing > 0 && body[0] != kSetupPacketType) item.codebooks = -2; // not Vorbis
            if (start <= kCodebookCountOffset && kCodebookCountOffset < start + lacing)
                item.codebooks = body[kCodebookCountOffset - start] + 1;
        }
        body += lacing;
        inspection.packet_offset += lacing;
        if (lacing < kLacingContinues) {
            ++inspection.packet_index;
            ++item.packets;
            inspection.packet_offset = 0;
        }
    }
}

void walk_pages(ItemInspection& inspection, const uint8_t* bytes, size_t n) {
    ItemSummary& item = inspection.current;
    // The other items' checksums are computed afresh as they are restored.
    const bool check_crc = inspection.check_raw_pages && item.kind == ItemKind::Raw;
    while (n > 0 && !inspection.walk_stopped) {
        const size_t size = whole_page_size(bytes, n);
        if (size == 0) {
            inspection.walk_stopped = true;
            break;
        }
        if (item.pages == 0) {
            item.has_serial = true;
            item.serial = read_le32(bytes + kOggSerial);
        }
        ++item.pages;
        if (check_crc && ogg_page_crc(bytes, size) != read_le32(bytes + kOggCrc)) ++item.bad_page_crcs;
        walk_packets(inspection, bytes);
        bytes += size;
        n -= size;
    }
}

bool inspect_write(void* context, const uint8_t* bytes, size_t n) {
    auto& inspection = *static_cast<ItemInspection*>(context);
    inspection.current.restored_bytes += n;
    if (inspection.walk_pages) walk_pages(inspection, bytes, n);
    return sink_write(inspection.downstream, bytes, n);
}

void item_begins(void* context, ItemKind kind) {
    auto& inspection = *static_cast<ItemInspection*>(context);
    inspection.current = ItemSummary{};
    inspection.current.kind = kind;
    inspection.packet_index = 0;
    inspection.packet_offset = 0;
    inspection.walk_stopped = false;
}

void item_ends(void* context, const ItemReport& report) {
    auto& inspection = *static_cast<ItemInspection*>(context);
    ItemSummary& item = inspection.current;
    item.result = report.result;
    item.archive_bytes = report.archive_bytes;
    item.headers_copied = report.headers_copied;
    item.slots_used = report.slots_used;
    if (item.codebooks < -1) item.codebooks = -1;
    item.number = ++inspection.item_count;
    inspection.restored_total += item.restored_bytes;
    inspection.archive_item_bytes += item.archive_bytes;
    if (inspection.keep_every_item || item_failed(item)) inspection.items.push_back(item);
    if (inspection.on_item_end) inspection.on_item_end(inspection.on_item_end_context, item);
}

void mark_event(void* context, CodecEvent event, int /*count*/) {
    static_cast<ItemInspection*>(context)->current.events |= 1u << static_cast<unsigned>(event);
}

const char* event_word(CodecEvent event) {
    switch (event) {
    case CodecEvent::FloorType0:
        return "a floor of type 0";
    case CodecEvent::ResidueValueOverflow:
        return "residue values outside their codebook";
    case CodecEvent::ResidueClassOverflow:
        return "a residue class overflow";
    case CodecEvent::ResidueType2OneChannel:
        return "a type-2 residue over one channel";
    case CodecEvent::MissingStoredRecord:
        return "a stored stream or header set that is not there";
    }
    return "";
}

} // namespace

CodecEvents inspection_events(ItemInspection& inspection) {
    return CodecEvents{&inspection, mark_event};
}

std::string event_words(uint32_t events) {
    std::string words;
    for (unsigned e = 0; e <= static_cast<unsigned>(CodecEvent::MissingStoredRecord); ++e) {
        if (!(events & (1u << e))) continue;
        if (!words.empty()) words += ", ";
        words += event_word(static_cast<CodecEvent>(e));
    }
    return words;
}

OutputSink inspection_sink(ItemInspection& inspection) {
    return OutputSink{&inspection, inspect_write};
}

ItemObserver inspection_observer(ItemInspection& inspection) {
    return ItemObserver{&inspection, item_begins, item_ends};
}
