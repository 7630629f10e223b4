#pragma once

// Archives of raw items only, written with the library's own writer, and the bytes they restore to.

#include "archive/archive_writer.h"

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> raw_archive(const std::vector<std::vector<uint8_t>>& items, uint8_t flags = 0) {
    ArchiveWriter writer;
    writer_init(writer, flags);
    for (const auto& item : items)
        writer_add_raw_item(writer, item.data(), item.size());
    return writer_finish(writer);
}

inline std::vector<uint8_t> concat(const std::vector<std::vector<uint8_t>>& items) {
    std::vector<uint8_t> all;
    for (const auto& item : items)
        all.insert(all.end(), item.begin(), item.end());
    return all;
}
