#pragma once

// Which logical streams and header sets the archive can refer back to: the repeat item and the header
// copy restamp stored pages with a new serial number (and recompute the CRC), so two runs of pages are
// interchangeable when they are equal in every byte but those two fields of each page.

#include "pack/ogg_scan.h"

#include <cstddef>
#include <cstdint>

// A stretch of pages of one scanned run: pages [first, first + count) of the scan.
struct PageRange {
    size_t first = 0;
    size_t count = 0;
};

// Hash of the pages' bytes with the serial number and CRC fields left out: equal ranges hash equal.
uint64_t pages_key(const uint8_t* data, const OggScan& scan, PageRange range);

// True when both ranges hold pages of the same sizes that are equal but for serial number and CRC.
bool pages_equal_but_serial(const uint8_t* data, const OggScan& scan, PageRange a, PageRange b);

// The pages after the first that carry a Vorbis stream's comment and setup headers and nothing else:
// the first page holds the identification header alone, and the setup header ends the last of them.
// Empty when the stream's header pages are not laid out that way (then no header copy is possible).
PageRange header_pages(const uint8_t* data, const OggScan& scan, const ScanRun& run);
