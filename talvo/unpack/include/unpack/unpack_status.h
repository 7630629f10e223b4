#pragma once

// How an unpack run (or one item of it) ended, and what the command line makes of it.

#include <cstdint>

enum class UnpackStatus : uint8_t {
    Ok,            // the end marker was reached (for an item: go on with the next one)
    InvalidHeader, // the first six bytes are not the magic, or the header is cut short
    InvalidFormat, // flags bits 0-2 above 3
    CannotCreate,  // the output could not be created
    UnexpectedEnd, // the archive ended before its end marker
    Corrupt,       // a range decoder ran past the end of its sub-stream
    Incomplete,    // the end marker was reached, but an item restored less than it describes
    OutOfMemory,   // an allocation failed (the reader's ring and thread included)
    WriteFailed,   // the output refused bytes
    // After the end marker:
    ChecksumMismatch, // the restored bytes differ from the length and checksum the extension records
    ChecksumDamaged,  // an extension follows the end marker but does not hold together
    TrailingData,     // bytes after the last member that are neither an extension nor a member
};

// The console line for a status ("" for Ok), newline included.
const char* unpack_status_message(UnpackStatus status);
// The process exit status for a status.
int unpack_status_exit_code(UnpackStatus status);
