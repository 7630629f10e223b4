// The packer on every kind of input users have: chained, repeated and header-sharing streams, foreign
// and interleaved streams, junk, damage, truncation, empty and huge files. Everything round-trips.

#include "archive/archive_writer.h"
#include "ogg/ogg_crc.h"
#include "pack/ogg_scan.h"
#include "pack_test_support.h"
#include "sample_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

class PackerCases : public testing::Test {
  protected:
    Bytes sample(const std::string& name) {
        Bytes bytes = load_sample(name);
        if (bytes.empty()) ADD_FAILURE() << name << " missing (run the make_samples test first)";
        return bytes;
    }
};

TEST_F(PackerCases, EverySingleStreamSampleIsModelled) {
    for (const std::string& name : vorbis_sample_names()) {
        // The codec refuses this encoder's 5.1 setup for now; it still round-trips raw.
        if (name == "oggenc_51.ogg") continue;
        const Bytes input = sample(name);
        const PackResult result = pack_round_trip(input);
        const auto runs = vorbis_runs(result);
        ASSERT_EQ(runs.size(), 1u) << name;
        expect_modelled(*runs[0]);
    }
}

TEST_F(PackerCases, ChainedStreamsEachBecomeAnItem) {
    const PackResult result = pack_round_trip(sample("chained.ogg"));
    const auto runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 3u);
    for (const PackedRun* run : runs)
        expect_modelled(*run);
}

TEST_F(PackerCases, TheSameStreamThreeTimesIsRepeated) {
    const PackResult result = pack_round_trip(sample("repeated3.ogg"));
    const auto runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_NE(runs[0]->serial, runs[1]->serial);
    for (const PackedRun* run : runs)
        expect_modelled(*run);
    EXPECT_EQ(runs[0]->kind, ItemChoice::Stream);
    EXPECT_EQ(runs[1]->kind, ItemChoice::Repeat);
    EXPECT_EQ(runs[2]->kind, ItemChoice::Repeat);
    for (const PackedRun* run : runs)
        EXPECT_EQ(run->modelled_end, run->end) << "the whole stream is modelled or repeated";
    EXPECT_LT(result.archive.size(), load_sample("same_101.ogg").size());
}

TEST_F(PackerCases, NothingIsKeptForLaterPastTheStoreLimit) {
    // Room for the first stream and not the second: the second is coded, the third repeats the first.
    const Bytes input = sample("repeated3.ogg");
    const PackResult unlimited = pack_round_trip(input);
    const auto first = vorbis_runs(unlimited);
    ASSERT_EQ(first.size(), 3u);
    PackOptions options;
    options.store_limit = first[0]->end - first[0]->begin;
    PackResult result = pack_round_trip(input, options);
    auto runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[1]->kind, ItemChoice::Repeat);
    EXPECT_EQ(runs[2]->kind, ItemChoice::Repeat) << "repeats keep nothing more";
    options.store_limit = first[0]->end - first[0]->begin - 1;
    result = pack_round_trip(input, options);
    runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 3u);
    for (const PackedRun* run : runs)
        EXPECT_NE(run->kind, ItemChoice::Repeat) << "nothing was kept to repeat";
    // Header copies likewise: with no room at all every stream codes its own headers.
    options.store_limit = 0;
    result = pack_round_trip(sample("same_setup.ogg"), options);
    runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 2u);
    for (const PackedRun* run : runs)
        EXPECT_EQ(run->kind, ItemChoice::Stream);
}

TEST_F(PackerCases, SameSetupDifferentAudioCopiesTheHeaders) {
    const PackResult result = pack_round_trip(sample("same_setup.ogg"));
    const auto runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 2u);
    for (const PackedRun* run : runs)
        expect_modelled(*run);
    EXPECT_EQ(runs[0]->kind, ItemChoice::Stream);
    EXPECT_EQ(runs[1]->kind, ItemChoice::HeaderCopy);
}

TEST_F(PackerCases, InterleavedVorbisIsStoredRawWithItsReason) {
    const PackResult result = pack_round_trip(sample("theora_vorbis.ogg"));
    const auto runs = vorbis_runs(result);
    ASSERT_FALSE(runs.empty());
    for (const PackedRun* run : runs) {
        EXPECT_EQ(run->kind, ItemChoice::Raw);
        EXPECT_NE(run->why.find("interleaved"), std::string::npos) << run->why;
    }
}

TEST_F(PackerCases, OpusAndFlacInOggAreStoredRaw) {
    for (const char* name : {"opus.ogg", "flac.ogg"}) {
        const PackResult result = pack_round_trip(sample(name));
        EXPECT_TRUE(vorbis_runs(result).empty()) << name;
    }
}

TEST_F(PackerCases, JunkBeforeAndAfterStaysAroundTheModelledStream) {
    const Bytes ogg = sample("oggenc_q3.ogg");
    Bytes id3(30, 'x');
    const uint8_t tag[] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};
    std::copy(std::begin(tag), std::end(tag), id3.begin());
    const Bytes tail = {'O', 'g', 'g', 'S', 0, 2, 'T', 'A', 'G'};
    const Bytes input = concat({&id3, &ogg, &tail});
    const PackResult result = pack_round_trip(input);
    ASSERT_EQ(result.runs.size(), 3u);
    EXPECT_FALSE(result.runs[0].vorbis);
    EXPECT_EQ(result.runs[1].begin, id3.size());
    expect_modelled(result.runs[1]);
    EXPECT_FALSE(result.runs[2].vorbis);
}

TEST_F(PackerCases, StreamCutInTheMiddleOfAPage) {
    const Bytes ogg = sample("oggenc_q3.ogg");
    const OggScan scan = scan_ogg(ogg.data(), ogg.size());
    ASSERT_GE(scan.pages.size(), 4u);
    const ScannedPage& page = scan.pages[scan.pages.size() / 2];
    const Bytes cut(ogg.begin(), ogg.begin() + static_cast<std::ptrdiff_t>(page.offset + page.size / 2));
    const PackResult result = pack_round_trip(cut);
    const auto runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NE(runs[0]->why.find("cut short"), std::string::npos) << runs[0]->why;
    // The good leading pages are modelled, up to the last page that ends a packet.
    EXPECT_EQ(runs[0]->kind, ItemChoice::Stream);
    EXPECT_GT(runs[0]->modelled_end, runs[0]->begin);
    EXPECT_LE(runs[0]->modelled_end, page.offset);
}

// Whatever the input, the archive is never larger than the input stored as raw items: a stream cut
// short pays for its modelled pages and for its raw rest, which can cost more than the input itself.
TEST_F(PackerCases, NoArchiveIsLargerThanTheInputStoredRaw) {
    int fell_back = 0;
    for (const char* name : {"oggenc_q-1.ogg", "oggenc_q3.ogg", "ffmpeg_libvorbis.ogg", "chained.ogg"}) {
        const Bytes ogg = sample(name);
        for (size_t cut = 1001; cut < ogg.size(); cut += 4000) {
            const Bytes input(ogg.begin(), ogg.begin() + static_cast<std::ptrdiff_t>(cut));
            const PackResult result = pack_round_trip(input);
            ArchiveWriter writer;
            writer_init(writer, 0);
            writer_add_raw_bytes(writer, input.data(), input.size(), PackOptions{}.max_raw_item);
            const size_t all_raw = writer_finish(writer).size();
            EXPECT_LE(result.archive.size(), all_raw) << name << " cut at " << cut;
            for (const PackedRun& run : result.runs)
                fell_back += run.why == "the whole file is smaller stored raw";
        }
    }
    // The cuts include files whose modelled archive would have been the larger one.
    EXPECT_GT(fell_back, 0);
}

TEST_F(PackerCases, FlippedPayloadByte) {
    Bytes ogg = sample("oggenc_q3.ogg");
    const OggScan scan = scan_ogg(ogg.data(), ogg.size());
    ASSERT_GE(scan.pages.size(), 4u);
    const ScannedPage& page = scan.pages[3];
    ogg[page.offset + page.size - 10] ^= 0x10;
    const PackResult result = pack_round_trip(ogg);
    const auto runs = vorbis_runs(result);
    ASSERT_GE(runs.size(), 1u);
    EXPECT_NE(runs[0]->why.find("damaged"), std::string::npos) << runs[0]->why;
    EXPECT_EQ(runs[0]->kind, ItemChoice::Stream);
    EXPECT_EQ(runs[0]->modelled_end, page.offset) << "the pages before the damaged one are modelled";
}

TEST_F(PackerCases, UnparseablePacketPartWayKeepsTheLeadingPagesModelled) {
    Bytes ogg = sample("oggenc_q6.ogg");
    const OggScan scan = scan_ogg(ogg.data(), ogg.size());
    ASSERT_GE(scan.pages.size(), 6u);
    // An audio packet at the start of a page in the second half that claims to be no audio packet (its
    // first bit set), under a correct CRC: the page is valid Ogg, the packet is not valid Vorbis.
    size_t victim = scan.pages.size() * 3 / 4;
    while (victim + 1 < scan.pages.size() && (scan.pages[victim].header_type & 1))
        ++victim;
    const ScannedPage& page = scan.pages[victim];
    ogg[page.offset + 27 + page.segment_count] |= 1;
    const uint32_t crc = ogg_page_crc(ogg.data() + page.offset, page.size);
    for (int i = 0; i < 4; ++i)
        ogg[page.offset + 22 + i] = static_cast<uint8_t>(crc >> (8 * i));

    const PackResult result = pack_round_trip(ogg);
    const auto runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]->kind, ItemChoice::Stream) << runs[0]->why;
    EXPECT_GT(runs[0]->modelled_end, scan.pages[3].offset);
    EXPECT_LE(runs[0]->modelled_end, page.offset);
    EXPECT_NE(runs[0]->why.find("part way"), std::string::npos) << runs[0]->why;
}

TEST_F(PackerCases, EmptyFileAndAFileThatIsNotOgg) {
    const PackResult empty = pack_round_trip({});
    EXPECT_TRUE(empty.runs.empty());
    const PackResult noise = pack_round_trip(random_bytes(100000, 5));
    EXPECT_TRUE(vorbis_runs(noise).empty());
    Bytes text(5000, 'O'); // capture-pattern look-alikes everywhere
    for (size_t i = 0; i + 4 < text.size(); i += 7)
        std::copy_n("OggS", 4, text.begin() + static_cast<std::ptrdiff_t>(i));
    pack_round_trip(text);
}

TEST_F(PackerCases, FileLargerThan64MegabytesRoundTrips) {
    const Bytes ogg = sample("oggenc_q0.ogg");
    const Bytes noise = random_bytes((size_t{64} << 20) + 12345, 9);
    const Bytes input = concat({&ogg, &noise, &ogg});
    PackOptions options; // fixed settings: one pass
    const PackResult result = pack_round_trip(input, options);
    const auto runs = vorbis_runs(result);
    ASSERT_EQ(runs.size(), 2u);
    expect_modelled(*runs[0]);
    expect_modelled(*runs[1]);
}

TEST_F(PackerCases, RandomTruncationsAndByteFlipsRoundTrip) {
    const Bytes chained = sample("chained.ogg");
    std::mt19937 rng(2026);
    PackOptions options;
    for (int i = 0; i < 12; ++i) {
        const size_t cut = rng() % chained.size();
        pack_round_trip(Bytes(chained.begin(), chained.begin() + static_cast<std::ptrdiff_t>(cut)), options);
    }
    for (int i = 0; i < 12; ++i) {
        Bytes flipped = chained;
        for (int k = 0; k <= i % 3; ++k)
            flipped[rng() % flipped.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
        pack_round_trip(flipped, options);
    }
}

TEST_F(PackerCases, SettingsAreForcedOrTheSmallestIsChosen) {
    const Bytes input = sample("chained.ogg");
    PackOptions forced;
    forced.flags = 0x0B; // 128 slots, carry-over
    const PackResult fixed = pack_round_trip(input, forced);
    ASSERT_GT(fixed.archive.size(), 6u);
    EXPECT_EQ(fixed.archive[6], 0x0B);

    PackOptions choose;
    choose.choose_settings = true;
    const PackResult best = pack_round_trip(input, choose);
    EXPECT_LE(best.archive.size(), fixed.archive.size());
    EXPECT_EQ(best.archive[6], best.flags);
    for (int s = 0; s < 2; ++s)
        for (uint8_t carry : {0, 8}) {
            PackOptions one;
            one.flags = static_cast<uint8_t>(s | carry);
            EXPECT_LE(best.archive.size(), pack_round_trip(input, one).archive.size());
        }
}

#ifndef _WIN32
// A spooled pack whose items or archive cannot be written says so, with the system's reason.
TEST_F(PackerCases, ASpoolThatCannotBeWrittenFailsThePack) {
    const Bytes input = sample("chained.ogg");
    for (bool items_full : {true, false}) {
        FILE* full = std::fopen("/dev/full", "w+b");
        FILE* scratch = std::tmpfile();
        ASSERT_TRUE(full && scratch);
        const ArchiveSpool spool = items_full ? ArchiveSpool{full, scratch} : ArchiveSpool{scratch, full};
        const PackResult result = pack_file_spooled(input.data(), input.size(), PackOptions{}, spool);
        EXPECT_EQ(result.status, PackStatus::WriteFailed) << items_full;
        EXPECT_EQ(result.write_error, ENOSPC) << items_full;
        std::fclose(full);
        std::fclose(scratch);
    }
}
#endif

TEST_F(PackerCases, WithoutVerificationTheArchiveIsTheSame) {
    const Bytes input = sample("oggenc_q3.ogg");
    PackOptions unverified;
    unverified.verify = false;
    EXPECT_EQ(pack_round_trip(input, unverified).archive, pack_round_trip(input).archive);
}

// Every value the packer reports, in order.
void record_progress(void* context, size_t done, size_t total) {
    static_cast<std::vector<std::pair<size_t, size_t>>*>(context)->push_back({done, total});
}

TEST_F(PackerCases, ProgressGrowsWithinOneStreamAndEndsAtTheSize) {
    const Bytes input = sample("oggenc_q3.ogg");
    PackOptions forced, chosen, unverified;
    forced.flags = 0x02;
    chosen.choose_settings = true;
    unverified.choose_settings = true;
    unverified.verify = false;
    for (PackOptions options : {forced, chosen, unverified})
        for (bool spooled : {false, true}) {
            if (spooled && options.choose_settings) continue; // the search runs in memory either way
            SCOPED_TRACE(testing::Message() << "choose " << options.choose_settings << " verify "
                                            << options.verify << " spooled " << spooled);
            std::vector<std::pair<size_t, size_t>> told;
            options.progress = record_progress;
            options.progress_context = &told;
            if (spooled) {
                FILE* items = std::tmpfile();
                FILE* archive = std::tmpfile();
                ASSERT_TRUE(items && archive);
                EXPECT_EQ(pack_file_spooled(input.data(), input.size(), options, ArchiveSpool{items, archive})
                              .status,
                          PackStatus::Ok);
                std::fclose(items);
                std::fclose(archive);
            } else {
                ASSERT_EQ(pack_round_trip(input, options).status, PackStatus::Ok);
            }
            ASSERT_FALSE(told.empty());
            size_t halfway_or_less = 0;
            for (size_t i = 0; i < told.size(); ++i) {
                EXPECT_EQ(told[i].second, input.size());
                if (i > 0) {
                    EXPECT_GT(told[i].first, told[i - 1].first) << i;
                }
                if (i + 1 < told.size()) {
                    EXPECT_LT(told[i].first, input.size()) << i;
                }
                if (told[i].first > 0 && told[i].first <= input.size() / 2) ++halfway_or_less;
            }
            EXPECT_EQ(told.back().first, input.size());
            // The one stream is followed page by page, not only as a whole.
            EXPECT_GE(halfway_or_less, 5u);
        }
}

TEST_F(PackerCases, FirstDifferenceFindsWhereADamagedArchiveGoesWrong) {
    const Bytes input = random_bytes(3000, 3);
    const PackResult result = pack_round_trip(input);
    EXPECT_EQ(first_difference(result.archive, input.data(), input.size()), kNoDifference);
    Bytes damaged = result.archive;
    damaged[damaged.size() - 100] ^= 1; // a raw byte near the end
    const size_t at = first_difference(damaged, input.data(), input.size());
    EXPECT_LT(at, input.size());
    EXPECT_GT(at, input.size() - 200);
    EXPECT_EQ(first_difference(result.archive, input.data(), input.size() - 1), input.size() - 1);
}

} // namespace
