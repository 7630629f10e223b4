#pragma once

// Header pages stored verbatim in the archive: a replayed header set whose stored pages run out takes
// its further pages from here, each checked in place before it is taken.

#include "archive/archive_reader.h"
#include "ogg/stream_context.h"

#include <cstdint>

// Checks the page at the reader's position without consuming it: its size if the capture pattern,
// version and CRC are right and the input lasts to its end; 0 or -1 otherwise.
int32_t peek_page(ArchiveReader& reader);

// The replay refill of a stream context over `reader`: the next page when peek_page accepts it.
ReplayRefill archive_page_refill(ArchiveReader& reader);
