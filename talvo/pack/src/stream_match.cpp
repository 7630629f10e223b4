#include "pack/stream_match.h"

#include "ogg/ogg_page.h"

#include <cstring>

namespace {

bool in_restamped_field(size_t i) {
    return (i >= kOggSerial && i < kOggSerial + 4) || (i >= kOggCrc && i < kOggCrc + 4);
}

} // namespace

uint64_t pages_key(const uint8_t* data, const OggScan& scan, PageRange range) {
    uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](uint8_t b) { h = (h ^ b) * 0x100000001b3ull; };
    for (size_t p = range.first; p < range.first + range.count; ++p) {
        const ScannedPage& page = scan.pages[p];
        const uint8_t* bytes = data + page.offset;
        for (size_t i = 0; i < kOggHeaderSize; ++i)
            mix(in_restamped_field(i) ? 0 : bytes[i]);
        // The payload is hashed sparsely: the key only sorts candidates, the comparison decides.
        const size_t step = page.size > 4096 ? 61 : 1;
        for (size_t i = kOggHeaderSize; i < page.size; i += step)
            mix(bytes[i]);
        mix(static_cast<uint8_t>(page.size));
        mix(static_cast<uint8_t>(page.size >> 8));
    }
    return h;
}

bool pages_equal_but_serial(const uint8_t* data, const OggScan& scan, PageRange a, PageRange b) {
    if (a.count != b.count || a.count == 0) return false;
    for (size_t k = 0; k < a.count; ++k) {
        const ScannedPage& pa = scan.pages[a.first + k];
        const ScannedPage& pb = scan.pages[b.first + k];
        if (pa.size != pb.size) return false;
        const uint8_t* x = data + pa.offset;
        const uint8_t* y = data + pb.offset;
        if (std::memcmp(x, y, kOggSerial) != 0 ||
            std::memcmp(x + kOggSerial + 4, y + kOggSerial + 4, kOggCrc - kOggSerial - 4) != 0 ||
            std::memcmp(x + kOggCrc + 4, y + kOggCrc + 4, pa.size - kOggCrc - 4) != 0)
            return false;
    }
    return true;
}

PageRange header_pages(const uint8_t* data, const OggScan& scan, const ScanRun& run) {
    // Packets end at lacing values below kLacingContinues; the identification header must end the first
    // page, which holds nothing else, and the setup header (the third packet) must end a page.
    int packets = 0;
    for (size_t k = 0; k < run.page_count; ++k) {
        const ScannedPage& page = scan.pages[run.first_page + k];
        const uint8_t* lacing = data + page.offset + kOggHeaderSize;
        for (size_t s = 0; s < page.segment_count; ++s) {
            if (lacing[s] == kLacingContinues) continue;
            ++packets;
            const bool page_ends_here = s + 1 == page.segment_count;
            if (packets == 1 && (k != 0 || !page_ends_here)) return {};
            if (packets == 3) {
                if (!page_ends_here) return {};
                return PageRange{run.first_page + 1, k};
            }
        }
        if (k == 0 && packets != 1) return {};
    }
    return {};
}
