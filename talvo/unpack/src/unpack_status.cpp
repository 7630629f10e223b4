#include "unpack/unpack_status.h"

const char* unpack_status_message(UnpackStatus status) {
    switch (status) {
    case UnpackStatus::Ok:
        return "";
    case UnpackStatus::InvalidHeader:
        return "Invalid archive header!\n";
    case UnpackStatus::InvalidFormat:
        return "Invalid archive format!\n";
    case UnpackStatus::CannotCreate:
        return "Can't open/create input/output file!\n";
    case UnpackStatus::UnexpectedEnd:
        return "Unexpected end of archive!\n";
    case UnpackStatus::Corrupt:
        return "Archive is corrupt!\n";
    case UnpackStatus::Incomplete:
        return "Archive restored incompletely!\n";
    case UnpackStatus::OutOfMemory:
        return "Out of memory!\n";
    case UnpackStatus::WriteFailed:
        return "Can't write output file!\n";
    case UnpackStatus::ChecksumMismatch:
        return "Archive restored incorrectly!\n";
    case UnpackStatus::ChecksumDamaged:
        return "Archive checksum is damaged!\n";
    case UnpackStatus::TrailingData:
        return "Unexpected data after the archive!\n";
    }
    return "";
}

int unpack_status_exit_code(UnpackStatus status) {
    switch (status) {
    case UnpackStatus::Ok:
        return 0;
    case UnpackStatus::CannotCreate:
        return -1;
    default:
        return 1;
    }
}
