#pragma once

// Reads an MPLG performance log into a list of records. A file cut short is read up to its last whole
// record; anything after that is reported, not guessed at.

#include "Marvane/Performance/LogRecords.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mplg {

// The record types are the writer's own, so reader and writer cannot drift apart.
using enum Marvane::Performance::MessageType::Enum;

struct Record {
    std::size_t offset = 0;
    unsigned type = 0;
    std::uint32_t id = 0;     // upper 24 bits of the record word
    std::uint64_t handle = 0; // BeginRange/EndRange
    std::uint32_t thread = 0; // PushRange/PopRange
    std::int64_t time = 0;    // ticks since the start of the capture
    std::int32_t amount = 0;  // counter records
    std::string name;         // UTF-8
    std::uint32_t statisticType = 0;
    std::string description;
    std::string unit;
    double scale = 1.0;
    std::uint32_t method = 1;
    std::uint32_t group = 0;
};

struct Log {
    std::int64_t ticksPerSecond = 0;
    std::vector<Record> records;
    std::size_t fileSize = 0;
    std::size_t wholeRecordsEnd = 0; // offset just past the last whole record
    std::string warning;             // non-empty when the file did not end on a record boundary
};

// False (with a message) when the file cannot be read or is not an MPLG log.
bool ReadLog(const std::string& path, Log& log, std::string& error);

const char* RecordTypeName(unsigned type);

// UTF-16 code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

} // namespace mplg
