#pragma once

// The manifest of a bundle: an archive that restores several files one after another. It rides in the
// archive extension as a record of its own, so an unpacker that does not know it restores the bundle as
// the concatenation of its members, and one that does restores each member under its own path.
//
// Payload of a manifest record. "varint": unsigned LEB128, 7 bits a byte, low groups first, the high
// bit set on every byte but the last, never longer than needed. Paths are front-coded (most share their
// directories with the one before) and times are steps from the one before, so a member of a folder
// costs its checksum and a few bytes more.
//   varint  member count N
//   then N members, each:
//       varint  bytes its path shares with the previous member's path (0 for the first)
//       varint  length S of the rest of the path, then those S bytes
//               the path: UTF-8, relative, components separated by '/', 1 to kManifestMaxPath bytes
//       varint  length in bytes
//       varint  modification time, nanoseconds since 1970-01-01 UTC, less the previous member's (the
//               first: less 0), zigzag-coded ((d << 1) ^ (d >> 63) of the signed 64-bit difference)
//       varint  permission bits (the low 12 bits of a POSIX mode)
//       8       XXH3-64 (seed 0) of the member's bytes, little-endian
// The members restore in this order; their lengths add up to the content record's length.

#include "archive/archive_extension.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t kRecordManifest = 2;
constexpr size_t kManifestMaxPath = 4096;
constexpr size_t kManifestMaxComponent = 255;

struct BundleMember {
    std::string path;
    uint64_t length = 0;
    int64_t mtime_ns = 0;
    uint16_t permissions = 0;
    uint64_t checksum = 0;
};

ExtensionRecord manifest_record(const std::vector<BundleMember>& members);
// Takes a manifest payload apart; false (with why) when it does not hold together. The paths are not
// judged here: see manifest_refusal.
bool parse_manifest(const uint8_t* payload, size_t size, std::vector<BundleMember>& members,
                    std::string& error);
// The first manifest record of a frame: 1 found and read, 0 none, -1 damaged (with why).
int find_manifest(const ExtensionFrame& frame, std::vector<BundleMember>& members, std::string& error);

// Why a member's path may not be written under a destination directory, or "" when it may: it must be
// relative, without drive letters, "." or ".." or empty components, backslashes, control characters
// (NUL included), characters or names that Windows refuses, and valid UTF-8.
std::string path_refusal(const std::string& path);
// Why a whole manifest may not be restored, or "" when it may: any path refused, two members with one
// path, a member whose path passes through another member's, or lengths that do not add up to
// `restored_length`.
std::string manifest_refusal(const std::vector<BundleMember>& members, uint64_t restored_length);
