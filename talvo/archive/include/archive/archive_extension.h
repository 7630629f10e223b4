#pragma once

// The archive extension: a small versioned frame written after an archive's end marker. An unpacker
// stops at the end marker and reads nothing after it, so every unpacker ignores these bytes; ours read
// them to check what they restored. Layout (little-endian; FORMAT-EXTENSION.md beside the README):
//
//   0      8  magic "TALVOEXT"
//   8      1  version (1)
//   9      4  the extension's length E, magic to end magic
//   13     .  records: type (1 byte), payload length (4 bytes), payload; unknown types are skipped
//   E-24   8  member length: the archive's bytes before the extension, its magic to its end marker
//   E-16   4  the extension's length E again
//   E-12   8  check: XXH3-64 of the extension's bytes before it
//   E-4    4  end magic "TVXE"
//
// The fixed-size end lets a file be walked from its end (each member's start is where its extension
// begins less the member length); a reader that comes forward finds the frame where its end marker
// ends, and the member length it records tells it that it is the frame written for that end marker.

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint8_t kExtensionMagic[8] = {'T', 'A', 'L', 'V', 'O', 'E', 'X', 'T'};
constexpr uint8_t kExtensionEndMagic[4] = {'T', 'V', 'X', 'E'};
constexpr uint8_t kExtensionVersion = 1;
constexpr size_t kExtensionHeaderSize = 13;  // magic, version, length
constexpr size_t kExtensionTrailerSize = 24; // member length, length, check, end magic
constexpr size_t kExtensionMinSize = kExtensionHeaderSize + kExtensionTrailerSize;
// A frame longer than this is not one of ours (a bound for a reader that holds one whole).
constexpr uint32_t kExtensionMaxSize = uint32_t{1} << 30;
constexpr size_t kRecordHeaderSize = 5; // type, payload length

// Record types. The content record holds the restored length (8 bytes) and the XXH3-64 (seed 0) of the
// restored bytes (8 bytes).
constexpr uint8_t kRecordContent = 1;
constexpr size_t kContentRecordSize = 16;

struct ExtensionRecord {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

// The restored bytes as the content record describes them.
struct ContentDigest {
    uint64_t length = 0;
    uint64_t checksum = 0;
};

// What the fixed-size end says: enough to walk back to the frame's start and the member's.
struct ExtensionTrailer {
    uint64_t member_length = 0;
    uint32_t length = 0;
};

// One frame read whole.
struct ExtensionFrame {
    uint8_t version = 0;
    uint64_t member_length = 0;
    std::vector<ExtensionRecord> records; // version 1 only: a later version is not taken apart
};

// The XXH3-64 of bytes, in one go or piece by piece.
uint64_t content_checksum(const uint8_t* data, size_t size);
struct ContentHasher;
ContentHasher* hasher_create(); // nullptr when memory runs out
void hasher_destroy(ContentHasher* hasher);
void hasher_reset(ContentHasher* hasher);
void hasher_update(ContentHasher* hasher, const uint8_t* bytes, size_t n);
uint64_t hasher_digest(const ContentHasher* hasher);

// The frame for a member of `member_length` bytes holding `records`, in order.
std::vector<uint8_t> make_extension(uint64_t member_length, const std::vector<ExtensionRecord>& records);
ExtensionRecord content_record(const ContentDigest& digest);
// The first content record of a frame; false when it has none (or one of the wrong size).
bool find_content(const ExtensionFrame& frame, ContentDigest& digest);

// The length a frame's header announces, from its first kExtensionHeaderSize bytes; 0 when they are not
// a frame's header (wrong magic, or a length out of bounds).
uint32_t extension_length_from_header(const uint8_t* header);
// The fixed-size end of a frame, from its last kExtensionTrailerSize bytes; false when they are not one.
bool read_extension_trailer(const uint8_t* trailer, ExtensionTrailer& out);
// Checks and takes apart a whole frame of `size` bytes: magic, both lengths, the check, end magic, and
// for version 1 records that fill the space between header and trailer exactly. False: damaged.
bool parse_extension(const uint8_t* bytes, size_t size, ExtensionFrame& frame);
