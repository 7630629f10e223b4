#include "pack/ogg_scan.h"

#include "ogg/ogg_crc.h"
#include "ogg/ogg_page.h"

#include <cstring>

namespace {

// The identification header of a Vorbis stream opens its first page.
bool starts_vorbis_stream(const uint8_t* data, const ScannedPage& page) {
    if (!(page.header_type & kOggFirstPage) || page.segment_count == 0) return false;
    const uint8_t* payload = data + page.offset + kOggHeaderSize + page.segment_count;
    const size_t payload_size = page.size - kOggHeaderSize - page.segment_count;
    return payload_size >= 7 && payload[0] == 1 && std::memcmp(payload + 1, "vorbis", 6) == 0;
}

void add_raw(std::vector<ScanRun>& runs, size_t begin, size_t end) {
    if (begin == end) return;
    if (!runs.empty() && !runs.back().vorbis && runs.back().end == begin) {
        runs.back().end = end;
        return;
    }
    ScanRun run;
    run.begin = begin;
    run.end = end;
    runs.push_back(run);
}

} // namespace

size_t parse_ogg_page(const uint8_t* data, size_t size, size_t offset, ScannedPage& page) {
    if (offset > size) return 0;
    const uint8_t* p = data + offset;
    const size_t total = ogg_page_size(p, size - offset);
    if (total == 0 || p[kOggVersion] != 0) return 0;
    if (ogg_page_crc(p, total) != read_le32(p + kOggCrc)) return 0;
    page.offset = offset;
    page.size = total;
    page.header_type = p[kOggHeaderType];
    page.granule = uint64_t(read_le32(p + kOggGranuleLow)) | uint64_t(read_le32(p + kOggGranuleHigh)) << 32;
    page.serial = read_le32(p + kOggSerial);
    page.sequence = read_le32(p + kOggSequence);
    page.segment_count = p[kOggSegmentCount];
    return total;
}

OggScan scan_ogg(const uint8_t* data, size_t size, InputRelease release) {
    OggScan scan;
    // Pages first: anything that does not parse as a page is skipped up to the next capture pattern.
    for (size_t pos = 0; pos < size;) {
        const size_t before = pos;
        ScannedPage page;
        if (const size_t n = parse_ogg_page(data, size, pos, page)) {
            scan.pages.push_back(page);
            pos += n;
        } else {
            const void* next = size - pos > 1 ? std::memchr(data + pos + 1, 'O', size - pos - 1) : nullptr;
            pos = next ? static_cast<size_t>(static_cast<const uint8_t*>(next) - data) : size;
        }
        note_input_read(release, pos - before);
    }

    // Runs: a Vorbis stream's pages from its first page on, as long as each page follows the previous
    // one directly and belongs to the same stream, up to its last page.
    size_t raw_begin = 0;
    for (size_t i = 0; i < scan.pages.size();) {
        const ScannedPage& first = scan.pages[i];
        if (!starts_vorbis_stream(data, first)) {
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool complete = (first.header_type & kOggLastPage) != 0;
        RunEnd reason = complete ? RunEnd::LastPage : RunEnd::InputEnds;
        while (!complete) {
            const ScannedPage& prev = scan.pages[j - 1];
            const size_t prev_end = prev.offset + prev.size;
            if (j == scan.pages.size()) {
                // A last page cut off by the end of the file counts as the stream being cut short.
                const bool cut_page =
                    size - prev_end >= 4 && std::memcmp(data + prev_end, kOggCaptureBytes, 4) == 0;
                reason = prev_end == size || cut_page ? RunEnd::InputEnds : RunEnd::Damaged;
                break;
            }
            const ScannedPage& next = scan.pages[j];
            if (next.offset != prev_end) {
                reason = RunEnd::Damaged;
                break;
            }
            if (next.serial != first.serial) {
                reason = RunEnd::Interleaved;
                break;
            }
            if (next.header_type & kOggFirstPage) {
                reason = RunEnd::Restarted;
                break;
            }
            complete = (next.header_type & kOggLastPage) != 0;
            ++j;
        }
        if (complete) reason = RunEnd::LastPage;
        add_raw(scan.runs, raw_begin, first.offset);
        ScanRun run;
        run.vorbis = true;
        run.begin = first.offset;
        run.end = scan.pages[j - 1].offset + scan.pages[j - 1].size;
        run.serial = first.serial;
        run.complete = complete;
        run.end_reason = reason;
        run.first_page = i;
        run.page_count = j - i;
        scan.runs.push_back(run);
        raw_begin = run.end;
        i = j;
    }
    add_raw(scan.runs, raw_begin, size);
    return scan;
}
