// One-byte audio packets, which encoders write for digital silence: a packet whose only lacing value is
// taken when its only byte is left has no tail. The committed files in tests/data/one-byte-packets
// (oggenc and ffmpeg's libvorbis, natural and cut with cut_audio_packets, mono, stereo and 5.1) and cut
// copies of the encoder samples go through the program, the packer, the stream model and libvorbis.

#include "one_byte_packets.h"
#include "pack_test_support.h"
#include "sample_files.h"
#include "stream_round_trip.h"
#include "talvo_restore.h"
#include "test_data.h"
#include "vorbis_reference.h"

#include <gtest/gtest.h>

namespace {

const std::string kBanner = "TALVO v0.1.1\n";

std::vector<ArchivePair> committed_files() {
    auto pairs = archive_pairs(test_data_dir("one-byte-packets"));
    EXPECT_GE(pairs.size(), 9u) << "files missing in " << test_data_dir("one-byte-packets").string();
    return pairs;
}

// Packer and unpacker directions of the stream model, with no size limit: the stream must come back
// byte for byte.
void expect_stream_model_round_trip(const std::vector<uint8_t>& ogg) {
    stream_round_trip::LongLived packer, unpacker;
    stream_round_trip::Archive archive;
    const stream_round_trip::PackResult packed = stream_round_trip::pack(packer, ogg, archive);
    ASSERT_TRUE(packed.ok) << "inexpressible: " << packed.inexpressible;
    std::vector<uint8_t> out;
    EXPECT_TRUE(unpack(unpacker, archive, out));
    EXPECT_EQ(first_mismatch(out, ogg), SIZE_MAX) << "first difference at this byte";
}

void expect_libvorbis_decodes(const std::vector<uint8_t>& ogg) {
    const auto streams = vorbis_reference::read_streams(ogg);
    ASSERT_EQ(streams.size(), 1u);
    const vorbis_reference::Decoded decoded = vorbis_reference::libvorbis_decode(streams[0]);
    EXPECT_TRUE(decoded.ok);
    EXPECT_GT(decoded.samples, 0);
}

TEST(OneBytePackets, CommittedFilesCoverEveryPlacement) {
    OneBytePlacements all;
    for (const ArchivePair& pair : committed_files()) {
        const OneBytePlacements found = one_byte_placements(read_data_file(pair.ogg));
        EXPECT_GT(found.count, 0u) << pair.name;
        all.count += found.count;
        all.at_stream_start = all.at_stream_start || found.at_stream_start;
        all.longest_run = std::max(all.longest_run, found.longest_run);
        all.alone_between_full = all.alone_between_full || found.alone_between_full;
        all.last_on_a_page = all.last_on_a_page || found.last_on_a_page;
        all.last_of_stream = all.last_of_stream || found.last_of_stream;
        all.floor_flags_past_end = all.floor_flags_past_end || found.floor_flags_past_end;
        all.floor_flags_fill_byte = all.floor_flags_fill_byte || found.floor_flags_fill_byte;
    }
    EXPECT_TRUE(all.at_stream_start);
    EXPECT_GE(all.longest_run, 20u);
    EXPECT_TRUE(all.alone_between_full);
    EXPECT_TRUE(all.last_on_a_page);
    EXPECT_TRUE(all.last_of_stream);
    EXPECT_TRUE(all.floor_flags_past_end);
    EXPECT_TRUE(all.floor_flags_fill_byte);
}

// Archives made with this build's packer: restoring them must keep working.
TEST(OneBytePackets, CommittedArchivesRestoreByteForByte) {
    for (const ArchivePair& pair : committed_files()) {
        SCOPED_TRACE(pair.name);
        const ProgramRestore restore = restore_with_talvo(pair.archive);
        ASSERT_TRUE(restore.run.started) << restore.run.start_error;
        EXPECT_EQ(restore.run.exit_code, 0);
        EXPECT_EQ(restore.run.out, kBanner);
        EXPECT_EQ(first_mismatch(restore.restored, read_data_file(pair.ogg)), SIZE_MAX)
            << "first difference at this byte";
    }
}

TEST(OneBytePackets, CommittedFilesAreModelledAndRoundTrip) {
    for (const ArchivePair& pair : committed_files()) {
        SCOPED_TRACE(pair.name);
        const std::vector<uint8_t> ogg = read_data_file(pair.ogg);
        expect_stream_model_round_trip(ogg);
        // The files were made large enough that the packer keeps their streams modelled.
        const PackResult result = pack_round_trip(ogg);
        ASSERT_EQ(result.runs.size(), 1u);
        EXPECT_EQ(result.runs[0].kind, ItemChoice::Stream) << result.runs[0].why;
    }
}

TEST(OneBytePackets, LibvorbisDecodesTheCommittedFiles) {
    if (!vorbis_reference::available()) GTEST_SKIP() << "libvorbis is not linked in this build";
    for (const ArchivePair& pair : committed_files()) {
        SCOPED_TRACE(pair.name);
        expect_libvorbis_decodes(read_data_file(pair.ogg));
    }
}

// The encoder samples with packets cut at the start, in a run, alone, at page ends and at the end.
TEST(OneBytePackets, CutEncoderSamplesRoundTrip) {
    size_t files = 0;
    for (const std::string& name : vorbis_sample_names()) {
        const std::vector<uint8_t> sample = load_sample(name);
        if (sample.empty()) continue;
        SCOPED_TRACE(name);
        const std::vector<PacketPlace> places = packet_places(sample);
        ASSERT_GT(places.size(), 40u);
        const size_t audio = places.size() - 3;
        const std::vector<uint8_t> cut = cut_audio_packets(sample, [&](size_t i) {
            const bool ends_page = places[i + 3].ends_its_page && i + 1 < audio && i % 3 == 0;
            return i == 0 || (i >= 20 && i < 35) || i % 11 == 5 || ends_page || i + 1 == audio;
        });
        ASSERT_FALSE(cut.empty());
        const OneBytePlacements found = one_byte_placements(cut);
        EXPECT_TRUE(found.at_stream_start && found.last_of_stream);
        // The silence sample is one-byte packets already.
        EXPECT_TRUE(found.alone_between_full || one_byte_placements(sample).count == audio);
        EXPECT_GE(found.longest_run, 15u);
        if (vorbis_reference::available()) expect_libvorbis_decodes(cut);
        // The 5.1 sample's setup is beyond the model; its file still round-trips raw.
        if (name != "oggenc_51.ogg") expect_stream_model_round_trip(cut);
        pack_round_trip(cut);
        ++files;
    }
    if (files == 0) GTEST_SKIP() << "no sample files (run the make_samples test first)";
}

} // namespace
