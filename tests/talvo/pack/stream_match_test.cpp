// Which streams and header sets the packer may refer back to: equal but for serial number and CRC.

#include "pack/ogg_scan.h"
#include "pack/stream_match.h"
#include "sample_files.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

PageRange whole(const ScanRun& run) {
    return PageRange{run.first_page, run.page_count};
}

TEST(StreamMatch, TheSameStreamUnderAnotherSerialNumberMatches) {
    Bytes file = load_sample("repeated3.ogg");
    ASSERT_FALSE(file.empty()) << "sample files missing";
    OggScan scan = scan_ogg(file.data(), file.size());
    ASSERT_EQ(scan.runs.size(), 3u);
    const PageRange a = whole(scan.runs[0]), b = whole(scan.runs[1]);
    EXPECT_NE(scan.runs[0].serial, scan.runs[1].serial);
    EXPECT_TRUE(pages_equal_but_serial(file.data(), scan, a, b));
    EXPECT_EQ(pages_key(file.data(), scan, a), pages_key(file.data(), scan, b));

    // One payload byte or one granule byte apart: no match (the CRC is then wrong too, but the
    // comparison itself must see the difference).
    for (size_t offset : {scan.pages[b.first + 2].offset + 100, scan.pages[b.first + 2].offset + 6}) {
        Bytes changed = file;
        changed[offset] ^= 1;
        EXPECT_FALSE(pages_equal_but_serial(changed.data(), scan, a, b)) << offset;
    }
    EXPECT_FALSE(pages_equal_but_serial(file.data(), scan, a, PageRange{b.first, b.count - 1}));
}

TEST(StreamMatch, SameSettingsShareHeaderPagesButNotAudio) {
    const Bytes file = load_sample("same_setup.ogg");
    ASSERT_FALSE(file.empty()) << "sample files missing";
    const OggScan scan = scan_ogg(file.data(), file.size());
    ASSERT_EQ(scan.runs.size(), 2u);
    const PageRange ha = header_pages(file.data(), scan, scan.runs[0]);
    const PageRange hb = header_pages(file.data(), scan, scan.runs[1]);
    EXPECT_EQ(ha.first, scan.runs[0].first_page + 1);
    EXPECT_GE(ha.count, 1u);
    EXPECT_TRUE(pages_equal_but_serial(file.data(), scan, ha, hb));
    EXPECT_FALSE(pages_equal_but_serial(file.data(), scan, whole(scan.runs[0]), whole(scan.runs[1])));
}

TEST(StreamMatch, HeaderPagesOfEverySampleEndWithTheSetupHeader) {
    for (const std::string& name : vorbis_sample_names()) {
        const Bytes file = load_sample(name);
        if (file.empty()) GTEST_SKIP() << "sample files missing";
        const OggScan scan = scan_ogg(file.data(), file.size());
        const PageRange h = header_pages(file.data(), scan, scan.runs[0]);
        ASSERT_GE(h.count, 1u) << name;
        // The page after the header pages starts a new packet.
        const ScannedPage& next = scan.pages[h.first + h.count];
        EXPECT_FALSE(next.header_type & 1) << name;
        const ScannedPage& last = scan.pages[h.first + h.count - 1];
        EXPECT_LT(file[last.offset + 27 + last.segment_count - 1], 255) << name;
    }
}

} // namespace
