#include "archive/archive_extension.h"

#include <cstring>
#include <new>

// xxHash is used header-only: the same source for the native and the Windows builds, no library to
// ship beside the programs.
#define XXH_INLINE_ALL
#include <xxhash.h>

struct ContentHasher {
    XXH3_state_t* state = nullptr;
};

namespace {

void put_le(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t get_le(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

} // namespace

uint64_t content_checksum(const uint8_t* data, size_t size) {
    return XXH3_64bits(data, size);
}

ContentHasher* hasher_create() {
    auto* hasher = new (std::nothrow) ContentHasher;
    if (!hasher) return nullptr;
    hasher->state = XXH3_createState();
    if (!hasher->state) {
        delete hasher;
        return nullptr;
    }
    XXH3_64bits_reset(hasher->state);
    return hasher;
}

void hasher_destroy(ContentHasher* hasher) {
    if (!hasher) return;
    XXH3_freeState(hasher->state);
    delete hasher;
}

void hasher_reset(ContentHasher* hasher) {
    XXH3_64bits_reset(hasher->state);
}

void hasher_update(ContentHasher* hasher, const uint8_t* bytes, size_t n) {
    XXH3_64bits_update(hasher->state, bytes, n);
}

uint64_t hasher_digest(const ContentHasher* hasher) {
    return XXH3_64bits_digest(hasher->state);
}

std::vector<uint8_t> make_extension(uint64_t member_length, const std::vector<ExtensionRecord>& records) {
    size_t size = kExtensionMinSize;
    for (const ExtensionRecord& record : records)
        size += kRecordHeaderSize + record.payload.size();
    std::vector<uint8_t> out(std::begin(kExtensionMagic), std::end(kExtensionMagic));
    out.reserve(size);
    out.push_back(kExtensionVersion);
    put_le(out, size, 4);
    for (const ExtensionRecord& record : records) {
        out.push_back(record.type);
        put_le(out, record.payload.size(), 4);
        out.insert(out.end(), record.payload.begin(), record.payload.end());
    }
    put_le(out, member_length, 8);
    put_le(out, size, 4);
    put_le(out, XXH3_64bits(out.data(), out.size()), 8);
    out.insert(out.end(), std::begin(kExtensionEndMagic), std::end(kExtensionEndMagic));
    return out;
}

ExtensionRecord content_record(const ContentDigest& digest) {
    ExtensionRecord record;
    record.type = kRecordContent;
    put_le(record.payload, digest.length, 8);
    put_le(record.payload, digest.checksum, 8);
    return record;
}

bool find_content(const ExtensionFrame& frame, ContentDigest& digest) {
    for (const ExtensionRecord& record : frame.records) {
        if (record.type != kRecordContent || record.payload.size() != kContentRecordSize) continue;
        digest.length = get_le(record.payload.data(), 8);
        digest.checksum = get_le(record.payload.data() + 8, 8);
        return true;
    }
    return false;
}

uint32_t extension_length_from_header(const uint8_t* header) {
    if (std::memcmp(header, kExtensionMagic, sizeof kExtensionMagic) != 0) return 0;
    const auto length = static_cast<uint32_t>(get_le(header + 9, 4));
    return length >= kExtensionMinSize && length <= kExtensionMaxSize ? length : 0;
}

bool read_extension_trailer(const uint8_t* trailer, ExtensionTrailer& out) {
    if (std::memcmp(trailer + 20, kExtensionEndMagic, sizeof kExtensionEndMagic) != 0) return false;
    out.member_length = get_le(trailer, 8);
    out.length = static_cast<uint32_t>(get_le(trailer + 8, 4));
    return out.length >= kExtensionMinSize && out.length <= kExtensionMaxSize;
}

bool parse_extension(const uint8_t* bytes, size_t size, ExtensionFrame& frame) {
    if (size < kExtensionMinSize || extension_length_from_header(bytes) != size) return false;
    const uint8_t* trailer = bytes + size - kExtensionTrailerSize;
    ExtensionTrailer end;
    if (!read_extension_trailer(trailer, end) || end.length != size) return false;
    if (get_le(trailer + 12, 8) != XXH3_64bits(bytes, size - 12)) return false;
    frame.version = bytes[8];
    frame.member_length = end.member_length;
    frame.records.clear();
    if (frame.version != kExtensionVersion) return true; // sound, but not ours to read
    size_t at = kExtensionHeaderSize;
    const size_t records_end = size - kExtensionTrailerSize;
    while (at < records_end) {
        if (records_end - at < kRecordHeaderSize) return false;
        const uint64_t length = get_le(bytes + at + 1, 4);
        if (length > records_end - at - kRecordHeaderSize) return false;
        ExtensionRecord record;
        record.type = bytes[at];
        const uint8_t* payload = bytes + at + kRecordHeaderSize;
        record.payload.assign(payload, payload + length);
        frame.records.push_back(std::move(record));
        at += kRecordHeaderSize + static_cast<size_t>(length);
    }
    return true;
}
