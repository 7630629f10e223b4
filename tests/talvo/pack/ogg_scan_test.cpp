#include "pack/ogg_scan.h"
#include "sample_files.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class OggScanTest : public testing::Test {
  protected:
    void SetUp() override {
        a_ = load_sample("oggenc_q0.ogg");
        b_ = load_sample("ffmpeg_vorbis.ogg");
        if (a_.empty() || b_.empty()) GTEST_SKIP() << "sample files missing";
    }
    Bytes a_, b_;
};

TEST_F(OggScanTest, WholeFileIsOneCompleteStream) {
    const OggScan scan = scan_ogg(a_.data(), a_.size());
    ASSERT_EQ(scan.runs.size(), 1u);
    EXPECT_TRUE(scan.runs[0].vorbis);
    EXPECT_TRUE(scan.runs[0].complete);
    EXPECT_EQ(scan.runs[0].begin, 0u);
    EXPECT_EQ(scan.runs[0].end, a_.size());
    EXPECT_EQ(scan.runs[0].page_count, scan.pages.size());
    EXPECT_GE(scan.pages.size(), 3u);
}

TEST_F(OggScanTest, JunkAroundAndChainedStreamsSplitIntoRuns) {
    Bytes file = {'j', 'u', 'n', 'k', 'O', 'g', 'g'};
    file.insert(file.end(), a_.begin(), a_.end());
    file.insert(file.end(), b_.begin(), b_.end());
    const Bytes tail = {'O', 'g', 'g', 'S', 0, 0, 1};
    file.insert(file.end(), tail.begin(), tail.end());

    const OggScan scan = scan_ogg(file.data(), file.size());
    ASSERT_EQ(scan.runs.size(), 4u);
    EXPECT_FALSE(scan.runs[0].vorbis);
    EXPECT_EQ(scan.runs[0].end, 7u);
    EXPECT_TRUE(scan.runs[1].vorbis && scan.runs[1].complete);
    EXPECT_TRUE(scan.runs[2].vorbis && scan.runs[2].complete);
    EXPECT_EQ(scan.runs[2].begin, 7 + a_.size());
    EXPECT_FALSE(scan.runs[3].vorbis);
    EXPECT_EQ(scan.runs[3].end, file.size());
}

TEST_F(OggScanTest, DamagedPageEndsTheStreamRunAndStaysRaw) {
    Bytes file = a_;
    const OggScan clean = scan_ogg(file.data(), file.size());
    ASSERT_GE(clean.pages.size(), 3u);
    const ScannedPage& victim = clean.pages[2];
    file[victim.offset + victim.size - 1] ^= 0x40; // last payload byte of the third page

    const OggScan scan = scan_ogg(file.data(), file.size());
    ASSERT_GE(scan.runs.size(), 2u);
    EXPECT_TRUE(scan.runs[0].vorbis);
    EXPECT_FALSE(scan.runs[0].complete);
    EXPECT_EQ(scan.runs[0].end_reason, RunEnd::Damaged);
    EXPECT_EQ(scan.runs[0].page_count, 2u);
    EXPECT_EQ(scan.runs[0].end, victim.offset);
    EXPECT_FALSE(scan.runs[1].vorbis);
    EXPECT_EQ(scan.runs[1].begin, victim.offset);
    EXPECT_EQ(scan.runs.back().end, file.size());
}

TEST_F(OggScanTest, RunsCoverEveryTruncationExactly) {
    for (size_t cut = 0; cut <= a_.size(); cut += 97) {
        const OggScan scan = scan_ogg(a_.data(), cut);
        size_t pos = 0;
        for (const ScanRun& run : scan.runs) {
            ASSERT_EQ(run.begin, pos) << "cut " << cut;
            ASSERT_GT(run.end, run.begin);
            pos = run.end;
        }
        ASSERT_EQ(pos, cut);
    }
}

TEST_F(OggScanTest, InterleavedStreamsStayRaw) {
    // Two streams page by page: pages of one stream never follow each other directly.
    const OggScan sa = scan_ogg(a_.data(), a_.size()), sb = scan_ogg(b_.data(), b_.size());
    Bytes file;
    for (size_t i = 0; i < std::max(sa.pages.size(), sb.pages.size()); ++i) {
        if (i < sa.pages.size())
            file.insert(file.end(), a_.begin() + sa.pages[i].offset,
                        a_.begin() + sa.pages[i].offset + sa.pages[i].size);
        if (i < sb.pages.size())
            file.insert(file.end(), b_.begin() + sb.pages[i].offset,
                        b_.begin() + sb.pages[i].offset + sb.pages[i].size);
    }
    const OggScan scan = scan_ogg(file.data(), file.size());
    for (const ScanRun& run : scan.runs) {
        EXPECT_FALSE(run.vorbis && run.complete);
        if (run.vorbis) {
            EXPECT_EQ(run.end_reason, RunEnd::Interleaved);
        }
    }
}

TEST_F(OggScanTest, AStreamCutShortSaysSo) {
    const OggScan whole = scan_ogg(a_.data(), a_.size());
    ASSERT_GE(whole.pages.size(), 3u);
    EXPECT_EQ(whole.runs[0].end_reason, RunEnd::LastPage);
    const ScannedPage& page = whole.pages[2];
    for (size_t cut : {page.offset, page.offset + 10, page.offset + page.size - 1}) {
        const OggScan scan = scan_ogg(a_.data(), cut);
        ASSERT_FALSE(scan.runs.empty());
        EXPECT_TRUE(scan.runs[0].vorbis);
        EXPECT_EQ(scan.runs[0].end_reason, RunEnd::InputEnds) << cut;
        EXPECT_EQ(scan.runs[0].page_count, 2u);
    }
    Bytes restarted = a_;
    restarted.insert(restarted.begin() + static_cast<std::ptrdiff_t>(page.offset), a_.begin(),
                     a_.begin() + static_cast<std::ptrdiff_t>(whole.pages[0].size));
    EXPECT_EQ(scan_ogg(restarted.data(), restarted.size()).runs[0].end_reason, RunEnd::Restarted);
}

TEST(OggScanSamples, EveryVorbisSampleIsOneCompleteStreamAndForeignStreamsStayRaw) {
    for (const std::string& name : vorbis_sample_names()) {
        const std::vector<uint8_t> file = load_sample(name);
        if (file.empty()) GTEST_SKIP() << "sample files missing";
        const OggScan scan = scan_ogg(file.data(), file.size());
        ASSERT_EQ(scan.runs.size(), 1u) << name;
        EXPECT_TRUE(scan.runs[0].vorbis && scan.runs[0].complete) << name;
    }
    for (const char* name : {"opus.ogg", "flac.ogg"}) {
        const std::vector<uint8_t> file = load_sample(name);
        const OggScan scan = scan_ogg(file.data(), file.size());
        EXPECT_GT(scan.pages.size(), 2u) << name;
        for (const ScanRun& run : scan.runs)
            EXPECT_FALSE(run.vorbis) << name;
    }
    const std::vector<uint8_t> chained = load_sample("chained.ogg");
    const OggScan scan = scan_ogg(chained.data(), chained.size());
    ASSERT_EQ(scan.runs.size(), 3u);
    for (const ScanRun& run : scan.runs)
        EXPECT_TRUE(run.vorbis && run.complete);
}

} // namespace
