#pragma once

// An Ogg page as it lies in memory: the fixed header fields by offset, the header type flags, the page
// size read from the lacing table, and little-endian words.

#include <cstddef>
#include <cstdint>

// Header fields, by offset from the start of the page.
constexpr size_t kOggCapturePattern = 0; // "OggS"
constexpr size_t kOggVersion = 4;        // 0
constexpr size_t kOggHeaderType = 5;
constexpr size_t kOggGranuleLow = 6;
constexpr size_t kOggGranuleHigh = 10;
constexpr size_t kOggSerial = 14;
constexpr size_t kOggSequence = 18;
constexpr size_t kOggCrc = 22;
constexpr size_t kOggSegmentCount = 26;
constexpr size_t kOggHeaderSize = 27; // the lacing table follows, one byte per segment
constexpr uint8_t kOggCaptureBytes[4] = {'O', 'g', 'g', 'S'};

// The lacing table holds at most kMaxLacing values, one per segment. A value of kLacingContinues (a full
// segment: also the most bytes a segment holds) continues the packet in the next segment; any smaller
// value ends the packet.
constexpr int kMaxLacing = 255;
constexpr uint8_t kLacingContinues = 255;

// Header type flags.
constexpr uint8_t kOggContinued = 1; // the first packet continues from the page before
constexpr uint8_t kOggFirstPage = 2;
constexpr uint8_t kOggLastPage = 4;

// One whole page: its bytes, header included.
struct OggPage {
    const uint8_t* data;
    uint32_t size;
};

// The size the header declares: 27 + S + the sum of the S lacing values. The header and its lacing
// table must be in memory.
uint32_t ogg_declared_page_size(const uint8_t* page);

// The size of the page at `page`, or 0 when the capture pattern is missing or the header, the lacing
// table or the payload would reach past `available` bytes.
uint32_t ogg_page_size(const uint8_t* page, size_t available);

inline uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void write_le32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
