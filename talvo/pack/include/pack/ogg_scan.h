#pragma once

// Finds the Ogg pages of an arbitrary file and groups them into the runs the archive can express: a
// Vorbis logical stream whose pages follow one another without anything in between becomes a stream
// candidate; every other byte (junk, foreign streams, damaged pages, interleaved pages) stays raw.

#include "pack/input_release.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct ScannedPage {
    size_t offset = 0;
    size_t size = 0; // header, lacing table and payload
    uint8_t header_type = 0;
    uint64_t granule = 0;
    uint32_t serial = 0;
    uint32_t sequence = 0;
    uint8_t segment_count = 0;
};

// Why a Vorbis run stops before its stream's last page.
enum class RunEnd : uint8_t {
    LastPage,    // complete: the run holds the stream's last page
    InputEnds,   // the file ends after the run: the stream was cut short
    Damaged,     // bytes that are no valid page follow (a damaged page, a cut page, foreign data)
    Interleaved, // a page of another logical stream follows
    Restarted,   // a new stream with the same serial number begins
};

// A run of consecutive bytes of the input: either raw bytes or the pages of one Vorbis stream.
struct ScanRun {
    bool vorbis = false;
    size_t begin = 0;
    size_t end = 0;
    uint32_t serial = 0;
    bool complete = false; // starts with the first page of the stream and ends with its last page
    RunEnd end_reason = RunEnd::LastPage;
    size_t first_page = 0; // index into OggScan::pages (vorbis runs only)
    size_t page_count = 0;
};

struct OggScan {
    std::vector<ScannedPage> pages; // every valid page, in file order
    std::vector<ScanRun> runs;      // cover the input exactly, in order
};

// A valid page at `offset`: capture pattern, version 0, the whole page inside the input, CRC matching.
// Returns its size, or 0.
size_t parse_ogg_page(const uint8_t* data, size_t size, size_t offset, ScannedPage& page);

OggScan scan_ogg(const uint8_t* data, size_t size, InputRelease release = {});
