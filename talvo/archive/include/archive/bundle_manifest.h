#pragma once

// The manifest of a bundle: an archive that restores several files one after another. It rides in the
// archive extension as a record of its own, so an unpacker that does not know it restores the bundle as
// the concatenation of its members, and one that does restores each member under its own path.
//
// Two record types carry a manifest; both are read, the compact one is written. "varint": unsigned
// LEB128, 7 bits a byte, low groups first, the high bit set on every byte but the last, never longer
// than needed. Times are nanoseconds since 1970-01-01 UTC, written as the step from the previous
// member's time (the first: from 0), zigzag-coded ((d << 1) ^ (d >> 63) of the signed 64-bit step).
// Paths: UTF-8, relative, components separated by '/', 1 to kManifestMaxPath bytes. The members
// restore in the manifest's order; their lengths add up to the content record's length.
//
// Type 2, the plain manifest: varint member count N, then N members, each:
//       varint  bytes its path shares with the previous member's path (0 for the first)
//       varint  length S of the rest of the path, then those S bytes
//       varint  length in bytes
//       varint  time step
//       varint  permission bits (the low 12 bits of a POSIX mode)
//       8       XXH3-64 (seed 0) of the member's bytes, little-endian
//
// Type 3, the compact manifest: a folder's members mostly share their directory with the one before,
// end in the same extension and have its time and permissions, so each member costs its checksum, its
// length, two bytes and the letters that differ; a file kept twice costs no checksum the second time.
// varint member count N, then N members, each:
//       1       head: bit 0 a time step follows, bit 1 permission bits follow (else both are the
//               previous member's; before the first: time 0, permissions 0644); bits 2-7 P, the bytes
//               the path shares with the start of the previous path (63: 63 plus a varint that follows)
//       1       tail: bits 0-2 S, the bytes it shares with the end of the previous path (7: 7 plus a
//               varint), bits 3-7 M, the bytes between (31: 31 plus a varint); the varint for S comes
//               before the one for M
//       M       the bytes between: the path is P bytes of the previous path, these M bytes, then its
//               last S bytes (P + S at most the previous path's length)
//       varint  C: the length in bytes plus one; or 0, and then a varint D: the member has the length
//               and checksum of the member D places before it (1: the one just before)
//       varint  time step, when bit 0 says so
//       varint  permission bits, when bit 1 says so
//       8       XXH3-64 (seed 0) of the member's bytes, little-endian, unless C is 0
// A length is at most 2^63 in either type.

#include "archive/archive_extension.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t kRecordManifest = 2;
constexpr uint8_t kRecordCompactManifest = 3;
constexpr uint16_t kManifestUsualPermissions = 0644;
constexpr size_t kManifestMaxPath = 4096;
constexpr size_t kManifestMaxComponent = 255;

struct BundleMember {
    std::string path;
    uint64_t length = 0;
    int64_t mtime_ns = 0;
    uint16_t permissions = 0;
    uint64_t checksum = 0;
};

// The members as a compact manifest record.
ExtensionRecord manifest_record(const std::vector<BundleMember>& members);
// Takes the payload of a manifest record of `type` (plain or compact) apart; false (with why) when it
// does not hold together. The paths are not judged here: see manifest_refusal.
bool parse_manifest(uint8_t type, const uint8_t* payload, size_t size, std::vector<BundleMember>& members,
                    std::string& error);
// The first manifest record (of either type) of a frame: 1 found and read, 0 none, -1 damaged (with why).
int find_manifest(const ExtensionFrame& frame, std::vector<BundleMember>& members, std::string& error);

// Why a member's path may not be written under a destination directory, or "" when it may: it must be
// relative, without drive letters, "." or ".." or empty components, backslashes, control characters
// (NUL included), characters or names that Windows refuses, and valid UTF-8.
std::string path_refusal(const std::string& path);
// Why a whole manifest may not be restored, or "" when it may: any path refused, two members with one
// path, a member whose path passes through another member's, or lengths that do not add up to
// `restored_length`.
std::string manifest_refusal(const std::vector<BundleMember>& members, uint64_t restored_length);
