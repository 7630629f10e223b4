#include "archive/page_peek.h"

#include "ogg/ogg_crc.h"
#include "ogg/ogg_page.h"

#include <cstring>
#include <vector>

namespace {

// Reads the page at the reader's position; its size, or 0 (wrong magic, version or CRC) or -1 (the
// input ended inside the lacing values or the payload).
int32_t check_page_at(ArchiveReader& reader) {
    uint8_t header[kOggHeaderSize + kMaxLacing];
    for (size_t i = 0; i < kOggHeaderSize; ++i) {
        const int32_t b = read_byte(reader);
        if (b < 0) return 0;
        header[i] = static_cast<uint8_t>(b);
    }
    if (std::memcmp(header + kOggCapturePattern, kOggCaptureBytes, 4) != 0 || header[kOggVersion] != 0)
        return 0;
    const int s = header[kOggSegmentCount];
    if (s > 0 && read_bytes(reader, header + kOggHeaderSize, s) != s) return -1;
    const uint32_t size = ogg_declared_page_size(header);
    const uint32_t payload = size - kOggHeaderSize - static_cast<uint32_t>(s);
    const uint32_t stored = read_le32(header + kOggCrc);
    write_le32(header + kOggCrc, 0);
    uint32_t crc = ogg_crc_update(0, header, kOggHeaderSize + static_cast<size_t>(s));
    if (payload > 0) {
        std::vector<uint8_t> body(payload);
        if (read_bytes(reader, body.data(), static_cast<int32_t>(payload)) != static_cast<int32_t>(payload))
            return -1;
        crc = ogg_crc_update(crc, body.data(), payload);
    }
    if (crc != stored) return 0;
    return static_cast<int32_t>(size);
}

int32_t take_checked_page(void* context, std::vector<uint8_t>& storage) {
    ArchiveReader& reader = *static_cast<ArchiveReader*>(context);
    const int32_t size = peek_page(reader);
    if (size < 1) return 0;
    if (storage.size() < static_cast<size_t>(size))
        storage.resize((static_cast<size_t>(size) + 255) & ~static_cast<size_t>(255));
    return read_bytes(reader, storage.data(), size) == size ? size : 0;
}

} // namespace

int32_t peek_page(ArchiveReader& reader) {
    const int32_t start = reader_position(reader);
    const int32_t result = check_page_at(reader);
    reader_set_position(reader, start);
    return result;
}

ReplayRefill archive_page_refill(ArchiveReader& reader) {
    return ReplayRefill{&reader, take_checked_page};
}
