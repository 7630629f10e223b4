// The talvo and talvo-pack programs as a user runs them: messages, exit statuses and files.

#include "archive/repeat_item.h"
#include "archive/stream_item_driver.h"
#include "pack/packer.h"
#include "page_walk.h"
#include "process_runner.h"
#include "random_bytes.h"
#include "raw_archives.h"
#include "sample_files.h"
#include "scratch_dir.h"
#include "test_data.h"
#include "vorbis_reference.h"
#include "vorbis_stream_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace fs = std::filesystem;

namespace {

const std::string kBanner = "TALVO v0.1.1\n";

class CommandLine : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return scratch_.file(name); }

    std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }

    std::vector<uint8_t> read_file(const std::string& full_path) const {
        std::ifstream in(full_path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    // Standard output as console text; standard error is not looked at.
    static ProcessRun talvo(const std::vector<std::string>& args, ProcessOptions options = {}) {
        options.as_console_text = true;
        return run_process(built_program("talvo"), args, options);
    }
    static ProcessRun pack(const std::vector<std::string>& args) {
        ProcessOptions options;
        options.as_console_text = true;
        return run_process(built_program("talvo-pack"), args, options);
    }

    // Runs talvo on `archive` and checks the message, the status and the output file.
    void expect_unpack(const std::vector<uint8_t>& archive, const std::string& message, int exit_code,
                       const std::vector<uint8_t>* expected_output) {
        const std::string in = write_file("archive.tlv", archive);
        const std::string out = path("out.bin");
        fs::remove(out);
        const ProcessRun run = talvo({in, out});
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_EQ(run.out, kBanner + message);
        EXPECT_EQ(run.exit_code, exit_code);
        if (expected_output) {
            ASSERT_TRUE(fs::exists(out));
            EXPECT_EQ(read_file(out), *expected_output);
        } else {
            EXPECT_FALSE(fs::exists(out)) << "the output is created only for an accepted header";
        }
    }

    ScratchDir scratch_{"talvo-cli"};
};

TEST_F(CommandLine, WrongArgumentCountPrintsOnlyTheBanner) {
    const std::string a = path("a"), b = path("b"), c = path("c");
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {a}, {a, b, c}}) {
        const ProcessRun run = talvo(args);
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_EQ(run.out, kBanner);
        EXPECT_EQ(run.exit_code, kExitMinusOne);
    }
    EXPECT_FALSE(fs::exists(b));
}

TEST_F(CommandLine, MissingInputLeavesTheOutputPathUntouched) {
    const std::string out = path("out.bin");
    const ProcessRun run = talvo({path("missing.tlv"), out});
    EXPECT_EQ(run.out, kBanner + "Can't open/create input/output file!\n");
    EXPECT_EQ(run.exit_code, kExitMinusOne);
    EXPECT_FALSE(fs::exists(out));
    // An existing file at the output path keeps its content.
    write_file("keep.bin", {1, 2, 3});
    talvo({path("missing.tlv"), path("keep.bin")});
    EXPECT_EQ(read_file(path("keep.bin")), std::vector<uint8_t>({1, 2, 3}));
}

TEST_F(CommandLine, OutputThatCannotBeCreated) {
    const std::string in = write_file("archive.tlv", raw_archive({{1}}));
    const ProcessRun run = talvo({in, path("no/such/dir/out.bin")});
    EXPECT_EQ(run.out, kBanner + "Can't open/create input/output file!\n");
    EXPECT_EQ(run.exit_code, kExitMinusOne);
}

TEST_F(CommandLine, InvalidHeaderAndFormatFailWithoutCreatingTheOutput) {
    expect_unpack({'T', 'A', 'L', 'V', 'O', 'X', 0, 0}, "Invalid archive header!\n", 1, nullptr);
    expect_unpack({'T', 'A', 'L'}, "Invalid archive header!\n", 1, nullptr);
    expect_unpack({}, "Invalid archive header!\n", 1, nullptr);
    expect_unpack(raw_archive({{1, 2}}, 0x04), "Invalid archive format!\n", 1, nullptr);
    expect_unpack(raw_archive({{1, 2}}, 0x07), "Invalid archive format!\n", 1, nullptr);
}

TEST_F(CommandLine, ValidFlagsAndTheEmptyArchive) {
    const auto item = random_bytes(1000, 1);
    expect_unpack(raw_archive({item}, 0x03), "", 0, &item);
    expect_unpack(raw_archive({item}, 0xF3), "", 0, &item);
    const std::vector<uint8_t> empty;
    expect_unpack(raw_archive({}), "", 0, &empty);
}

TEST_F(CommandLine, RawItemsOfEveryLengthCodeWidth) {
    std::vector<std::vector<uint8_t>> items;
    uint32_t seed = 20;
    for (size_t size : {63, 64, 16383, 16384, 4194303, 4194304, 1000000})
        items.push_back(random_bytes(size, seed++));
    const auto expected = concat(items);
    expect_unpack(raw_archive(items), "", 0, &expected);
}

TEST_F(CommandLine, ArchiveCutAtEveryByteFailsAndKeepsWhatWasWritten) {
    const std::vector<std::vector<uint8_t>> items = {random_bytes(1, 2), random_bytes(20, 3),
                                                     random_bytes(5, 4)};
    const auto archive = raw_archive(items);
    const auto expected = concat(items);
    const std::string in = path("cut.tlv"), out = path("out.bin");
    for (size_t cut = 0; cut < archive.size(); ++cut) {
        write_file("cut.tlv",
                   std::vector<uint8_t>(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(cut)));
        fs::remove(out);
        const ProcessRun run = talvo({in, out});
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_EQ(run.exit_code, 1) << cut;
        if (cut < static_cast<size_t>(kArchiveHeaderSize)) {
            EXPECT_EQ(run.out, kBanner + "Invalid archive header!\n") << cut;
            continue;
        }
        EXPECT_EQ(run.out, kBanner + "Unexpected end of archive!\n") << cut;
        const auto written = read_file(out);
        ASSERT_LE(written.size(), expected.size());
        EXPECT_TRUE(std::equal(written.begin(), written.end(), expected.begin())) << cut;
    }
}

// An item that restores less than it describes is no success: unpacking goes on with the next item so
// that everything restorable comes out, and the run ends with a message of its own and status 1.
TEST_F(CommandLine, FailedStreamItemsAndRepeatsOfNothingAreReportedIncomplete) {
    const auto before = random_bytes(30, 5);
    const auto twice = concat({before, before});
    ArchiveWriter writer;
    writer_init(writer, 0);
    writer_add_raw_item(writer, before.data(), before.size());
    writer_begin_stream_item(writer, true);
    RangeEncoder aux, page, data;
    writer_end_stream_item(writer, aux, page, data);
    writer_add_raw_item(writer, before.data(), before.size());
    expect_unpack(writer_finish(writer), "Archive restored incompletely!\n", 1, &twice);

    // A repeat of a stream that was never stored: reported, nothing written, the next item follows.
    // (The packer's side holds an empty page under that index; the unpacker holds nothing.)
    writer_init(writer, 0);
    writer_add_raw_item(writer, before.data(), before.size());
    writer_begin_repeat_item(writer);
    StreamDriver* packer = create_stream_driver(0, false);
    std::vector<uint8_t> empty_page(27, 0);
    std::memcpy(empty_page.data(), "OggS", 4);
    store_append(packer->stream_store, empty_page.data(), empty_page.size());
    store_add_record(packer->stream_store, 0, 27);
    EXPECT_TRUE(pack_repeat_item(*packer, writer.control, 0, 5));
    destroy_stream_driver(packer);
    writer_add_raw_item(writer, before.data(), before.size());
    expect_unpack(writer_finish(writer), "frame list position error!\nArchive restored incompletely!\n", 1,
                  &twice);
}

// What the codecs report while they restore goes to standard output, one line each, in the order it
// happens, before the run's own last line.
bool is_prefix(const std::vector<uint8_t>& head, const std::vector<uint8_t>& whole) {
    return head.size() <= whole.size() && std::equal(head.begin(), head.end(), whole.begin());
}

std::string lines(const std::string& line, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += line + "\n";
    return text;
}

// The audio packets of a mono stream whose floor is used: the codecs code a residue only for those.
int packets_with_a_floor(const std::vector<uint8_t>& ogg, const vorbis_writer::Stream& s) {
    const auto streams = vorbis_reference::read_streams(ogg);
    int count = 0;
    for (size_t i = 3; i < streams.at(0).packets.size(); ++i) {
        const std::vector<uint8_t>& packet = streams[0].packets[i];
        size_t bit = 1; // after the packet type
        auto take = [&](int n) {
            uint32_t v = 0;
            for (int k = 0; k < n; ++k, ++bit)
                v |= ((packet.at(bit / 8) >> (bit % 8)) & 1u) << k;
            return v;
        };
        int mode_bits = 0;
        for (size_t m = s.modes.size() - 1; m; m >>= 1)
            ++mode_bits;
        if (s.modes.at(take(mode_bits)).blockflag) take(2);
        count += static_cast<int>(take(1));
    }
    return count;
}

// An archive of one stream item that holds what the packing direction coded of `ogg`, whatever its
// size; a setup the model refuses is coded up to the field that refuses it.
std::vector<uint8_t> stream_item_archive(const std::vector<uint8_t>& ogg, bool complete) {
    std::vector<OggPage> pages;
    split_ogg_pages(ogg.data(), ogg.size(), pages);
    StreamDriver* driver = create_stream_driver(0, false);
    ArchiveWriter writer;
    writer_init(writer, 0);
    writer_begin_stream_item(writer, false);
    RangeEncoder aux, page, data;
    EXPECT_EQ(pack_stream_item(*driver, pages.data(), pages.size(), StreamItemChoices{}, writer.control,
                               writer.control_probs, aux, page, data),
              complete);
    destroy_stream_driver(driver);
    writer_end_stream_item(writer, aux, page, data);
    return writer_finish(writer);
}

TEST_F(CommandLine, AFloorOfTypeZeroIsReportedAndItsStreamIsIncomplete) {
    if (!vorbis_reference::available()) GTEST_SKIP() << "libogg not available in this build";
    vorbis_writer::Stream s = vorbis_writer::small_stream(1, 2, 1);
    s.floors[0].type = 0;
    const std::vector<uint8_t> ogg = vorbis_writer::ogg_file(s, 8, 1);
    const std::string in = write_file("floor0.tlv", stream_item_archive(ogg, false)), out = path("out.ogg");
    const ProcessRun run = talvo({in, out});
    EXPECT_EQ(run.out, kBanner + "floor0!\nArchive restored incompletely!\n");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(is_prefix(read_file(out), ogg));
}

TEST_F(CommandLine, ResidueWarningsComeOncePerClassWordOrPassAndTheStreamIsRestored) {
    if (!vorbis_reference::available()) GTEST_SKIP() << "libogg not available in this build";
    // Sixteen classifications: every class word of a type-1 residue is reported (two per packet
    // here, one channel, four partitions of two classes each).
    vorbis_writer::Stream classes = vorbis_writer::small_stream(1, 2, 1);
    classes.books[1].entries = 256;
    classes.books[1].lengths.assign(256, 8);
    classes.residues[0].classifications = 16;
    classes.residues[0].books.resize(16, classes.residues[0].books[1]);
    // A type-2 residue over one channel codes nothing: reported once per pass of every packet that
    // reaches its residue. It has no partitions here, so that its packets end with the floor.
    vorbis_writer::Stream mono_type2 = vorbis_writer::small_stream(1, 2, 2);
    mono_type2.residues[0].end = 0;
    const struct {
        vorbis_writer::Stream stream;
        std::string line;
        int per_packet;
    } cases[] = {{classes, "residue class overflow", 2}, {mono_type2, "warning! (rtype == 2 && ch == 1)", 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::vector<uint8_t> ogg = vorbis_writer::ogg_file(c.stream, 12, 5);
        const int reported = c.per_packet * packets_with_a_floor(ogg, c.stream);
        ASSERT_GT(reported, 0);
        const std::string archive = write_file("in.tlv", stream_item_archive(ogg, true)),
                          out = path("out.ogg");
        const ProcessRun run = talvo({archive, out});
        EXPECT_EQ(run.out, kBanner + lines(c.line, reported));
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(read_file(out), ogg);
        // The packer's verification restores what it modelled in memory, and prints nothing.
        testing::internal::CaptureStdout();
        const PackResult packed = pack_file(ogg.data(), ogg.size());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_EQ(packed.runs.size(), 1u);
        EXPECT_EQ(packed.runs[0].kind, ItemChoice::Stream) << "modelled, so the verification ran the codecs";
    }
}

// A residue value beyond its book's table: bit 4 of byte 1902 flipped in the committed archive of a
// chain sends the first stream's data sub-stream astray; with statistics carried over, the third
// stream fails too, and the repeat of the first between them still restores.
TEST_F(CommandLine, ResidueValuesBeyondTheirBookAreReportedForEveryStream) {
    std::vector<uint8_t> archive = read_data_file(test_data_dir("packer-archives") / "chained.talvo");
    ASSERT_GT(archive.size(), 1902u);
    archive[1902] ^= 0x10;
    const std::string in = write_file("damaged.tlv", archive), out = path("out.ogg");
    const ProcessRun run = talvo({in, out});
    EXPECT_EQ(run.out, kBanner + lines("res_value overflow!", 2) + "Archive restored incompletely!\n");
    EXPECT_EQ(run.exit_code, 1);
}

// A stream cut short is modelled up to its last page that ends a packet and ends on a page start that
// fails, as the packer leaves it: that item is complete, so the run restores the file and exits 0.
TEST_F(CommandLine, AFileCutInTheMiddleOfAStreamRestoresWithStatusZero) {
    const std::vector<uint8_t> ogg = load_sample("oggenc_q10.ogg");
    if (ogg.empty()) GTEST_SKIP() << "no sample files (run the make_samples test first)";
    const std::vector<uint8_t> cut(ogg.begin(),
                                   ogg.begin() + static_cast<std::ptrdiff_t>(ogg.size() * 3 / 5));
    const PackResult packed = pack_file(cut.data(), cut.size());
    ASSERT_EQ(packed.status, PackStatus::Ok);
    ASSERT_FALSE(packed.runs.empty());
    const PackedRun& stream = packed.runs[0];
    ASSERT_EQ(stream.kind, ItemChoice::Stream) << stream.why;
    EXPECT_NE(stream.why.find("cut short"), std::string::npos) << stream.why;
    expect_unpack(packed.archive, "", 0, &cut);
}

#ifndef _WIN32
TEST_F(CommandLine, FailedOutputWriteIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string in = write_file("archive.tlv", raw_archive({random_bytes(100000, 6)}));
    const ProcessRun run = talvo({in, "/dev/full"});
    EXPECT_EQ(run.out, kBanner + "Can't write output file!\n");
    EXPECT_EQ(run.exit_code, 1);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALVO_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TALVO_TEST_SANITIZED 1
#endif
#endif

TEST_F(CommandLine, FailedAllocationIsReported) {
#ifdef TALVO_TEST_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#else
    // One 64 MiB raw item under a 48 MiB address-space limit.
    const std::vector<uint8_t> item(size_t{64} << 20, 0x5A);
    const std::string in = write_file("big.tlv", raw_archive({item}));
    const std::string out = path("out.bin");
    ProcessOptions limited;
    limited.address_space_limit = uint64_t{48} << 20;
    const ProcessRun run = talvo({in, out}, limited);
    EXPECT_EQ(run.out, kBanner + "Out of memory!\n");
    EXPECT_EQ(run.exit_code, 1);
#endif
}
#endif

TEST_F(CommandLine, PackerUsageHelpAndVersion) {
    ProcessRun run = pack({"--help"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out.rfind("Usage: talvo-pack", 0), 0u) << run.out;
    run = pack({"--version"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "talvo-pack 0.1.1\n");
    for (const auto& args : std::vector<std::vector<std::string>>{{"-s", "4", "a"}, {"-x", "a", "b"}}) {
        run = pack(args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(pack({path("missing"), path("out.talvo")}).exit_code, 1);
    EXPECT_FALSE(fs::exists(path("out.talvo")));
}

TEST_F(CommandLine, PackerRefusesToOverwriteUnlessForced) {
    const auto input = random_bytes(5000, 7);
    const std::string in = write_file("in.bin", input);
    const std::string archive = write_file("archive.talvo", {9, 9, 9});
    EXPECT_EQ(pack({in, archive}).exit_code, 1);
    EXPECT_EQ(read_file(archive), std::vector<uint8_t>({9, 9, 9}));
    EXPECT_EQ(pack({"-f", in, archive}).exit_code, 0);
    const std::string out = path("out.bin");
    const ProcessRun run = talvo({archive, out});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(read_file(out), input);
}

TEST_F(CommandLine, PackThenUnpackRestoresRealFilesExactly) {
    std::vector<std::string> inputs = {write_file("random.bin", random_bytes(3 << 20, 8)),
                                       write_file("empty.bin", {})};
    for (const char* name : {"oggenc_q3.ogg", "ffmpeg_libvorbis.ogg", "chained.ogg", "theora_vorbis.ogg"})
        if (fs::exists(sample_path(name))) inputs.push_back(sample_path(name));
    for (const auto& input : inputs) {
        const std::string archive = path("packed.talvo"), out = path("restored.bin");
        fs::remove(archive);
        ASSERT_EQ(pack({input, archive}).exit_code, 0) << input;
        const ProcessRun run = talvo({archive, out});
        EXPECT_EQ(run.out, kBanner);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(read_file(out), read_file(input)) << input;
    }
}

} // namespace
