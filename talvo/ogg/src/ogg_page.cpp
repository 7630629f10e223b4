#include "ogg/ogg_page.h"

#include <cstring>

uint32_t ogg_declared_page_size(const uint8_t* page) {
    const uint32_t segments = page[kOggSegmentCount];
    uint32_t size = kOggHeaderSize + segments;
    for (uint32_t i = 0; i < segments; ++i)
        size += page[kOggHeaderSize + i];
    return size;
}

uint32_t ogg_page_size(const uint8_t* page, size_t available) {
    if (available < kOggHeaderSize || std::memcmp(page + kOggCapturePattern, kOggCaptureBytes, 4) != 0)
        return 0;
    if (available < kOggHeaderSize + page[kOggSegmentCount]) return 0;
    const uint32_t size = ogg_declared_page_size(page);
    return size <= available ? size : 0;
}
