// talvo-pack as a front end for archives, run as a user runs it: restoring next to the archive, -o, -c
// and "-" both ways, no overwriting without -f, nothing under the output's name after a failed or
// interrupted restore, several files with one failing, -t and -l on damaged archives, and Unicode
// names (under wine too). The conformance archives restore through it byte for byte.

#include "ogg/ogg_crc.h"
#include "process_runner.h"
#include "sample_files.h"
#include "scratch_dir.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string text_of(const std::string& text, size_t number) {
    return text + std::to_string(number);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One Ogg page of a stream that is not Vorbis (so the packer keeps it verbatim, as a raw item).
Bytes ogg_page(uint32_t serial, uint32_t sequence, uint8_t flags, const std::string& body) {
    Bytes page(27, 0);
    std::memcpy(page.data(), "OggS", 4);
    page[5] = flags;
    for (int i = 0; i < 4; ++i) {
        page[14 + i] = static_cast<uint8_t>(serial >> (8 * i));
        page[18 + i] = static_cast<uint8_t>(sequence >> (8 * i));
    }
    page[26] = 1;
    page.push_back(static_cast<uint8_t>(body.size()));
    page.insert(page.end(), body.begin(), body.end());
    const uint32_t crc = ogg_page_crc(page.data(), page.size());
    for (int i = 0; i < 4; ++i)
        page[22 + i] = static_cast<uint8_t>(crc >> (8 * i));
    return page;
}

class FrontEnd : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return scratch_.file(name); }
    // A conformance archive and its Ogg file copied in as NAME.ogg.talvo; returns the archive's path.
    std::string copy_conformance(const std::string& name) {
        const fs::path source = test_data_dir("conformance");
        fs::copy_file(source / (name + ".talvo"), dir_ / (name + ".ogg.talvo"));
        return path(name + ".ogg.talvo");
    }
    static Bytes conformance_ogg(const std::string& name) {
        return read_bytes(test_data_dir("conformance") / (name + ".ogg"));
    }
    // Standard output as the bytes written (and standard input from a file, or the null device).
    static ProcessRun front(const std::vector<std::string>& args, const std::string& stdin_path = "") {
        ProcessOptions options;
        if (!stdin_path.empty()) {
            options.input = InputFrom::File;
            options.stdin_file = utf8_path(stdin_path);
        }
        return run_process(built_program("talvo-pack"), args, options);
    }
    // talvo itself, its standard output as console text.
    static ProcessRun talvo(const std::vector<std::string>& args) {
        ProcessOptions options;
        options.as_console_text = true;
        return run_process(built_program("talvo"), args, options);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::u8string name = entry.path().filename().u8string();
            found.emplace_back(name.begin(), name.end());
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    ScratchDir scratch_{"talvo-front"};
    const fs::path dir_ = scratch_.path();
};

TEST_F(FrontEnd, RestoresNextToTheArchiveKeepingItAndItsTimeAndPermissions) {
    const std::string archive = copy_conformance("gaps-mono-q3");
    const auto old_time = fs::last_write_time(archive) - std::chrono::hours(50);
    fs::last_write_time(archive, old_time);
#ifndef _WIN32
    fs::permissions(archive, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    const ProcessRun run = front({"-d", archive});
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "") << "no banner, nothing on standard output";
    EXPECT_EQ(read_bytes(path("gaps-mono-q3.ogg")), conformance_ogg("gaps-mono-q3"));
    EXPECT_EQ(names(), (std::vector<std::string>{"gaps-mono-q3.ogg", "gaps-mono-q3.ogg.talvo"}));
    EXPECT_EQ(fs::last_write_time(path("gaps-mono-q3.ogg")), old_time);
#ifndef _WIN32
    EXPECT_EQ(fs::status(path("gaps-mono-q3.ogg")).permissions(), fs::status(archive).permissions());
#endif

    // Packing gives the archive the input's time too; talvo-unpack restores by default.
    const std::string again = path("again.ogg");
    fs::copy_file(path("gaps-mono-q3.ogg"), again);
    ASSERT_EQ(front({"-q", again}).exit_code, 0);
    EXPECT_EQ(fs::last_write_time(again + ".talvo"), fs::last_write_time(again));
    fs::remove(again);
    const ProcessRun unpack = run_process(built_program("talvo-unpack"), {again + ".talvo"});
    EXPECT_EQ(unpack.exit_code, 0) << unpack.err;
    EXPECT_EQ(read_bytes(again), conformance_ogg("gaps-mono-q3"));
}

TEST_F(FrontEnd, NeverOverwritesWithoutForceAndNeedsANameForOtherSuffixes) {
    const std::string archive = copy_conformance("tone-8k-qm1");
    write_bytes(path("tone-8k-qm1.ogg"), {1, 2, 3});
    ProcessRun run = front({"-d", archive});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "talvo-pack: " + archive + ": ")) << run.err;
    EXPECT_EQ(read_bytes(path("tone-8k-qm1.ogg")), Bytes({1, 2, 3}));
    EXPECT_EQ(front({"-d", "-f", archive}).exit_code, 0);
    EXPECT_EQ(read_bytes(path("tone-8k-qm1.ogg")), conformance_ogg("tone-8k-qm1"));

    fs::rename(archive, path("tone.bin"));
    run = front({"-d", path("tone.bin")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "-o")) << run.err;
    EXPECT_EQ(front({"-d", "-o", path("named.ogg"), path("tone.bin")}).exit_code, 0);
    EXPECT_EQ(read_bytes(path("named.ogg")), conformance_ogg("tone-8k-qm1"));
    EXPECT_EQ(front({"-d", "-o", path("x.ogg"), path("tone.bin"), path("tone.bin")}).exit_code, 2);
}

TEST_F(FrontEnd, AFailedRestoreLeavesNothingUnderTheOutputName) {
    const std::string archive = copy_conformance("music-q8");
    Bytes bytes = read_bytes(archive);
    bytes.resize(bytes.size() / 2);
    write_bytes(archive, bytes);
    const ProcessRun run = front({"-d", archive});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "talvo-pack: " + archive + ": Unexpected end of archive!")) << run.err;
    EXPECT_TRUE(contains(run.err, "item 1 (stream, serial 0000006a)")) << run.err;
    EXPECT_EQ(names(), std::vector<std::string>{"music-q8.ogg.talvo"}) << "no output, no temporary file";
}

#ifndef _WIN32
TEST_F(FrontEnd, AnInterruptedRestoreLeavesNothingBehind) {
    const Bytes archive = read_bytes(test_data_dir("conformance") / "music-q8.talvo");
    for (int signal_number : {SIGINT, SIGTERM}) {
        ProcessOptions options;
        options.input = InputFrom::Pipe;
        ChildHandle child =
            start_process(built_program("talvo-pack"), {"-d", "-", "-o", path("out.ogg")}, options);
        // Half the archive, then the pipe stays open: the restore waits for the rest with its
        // temporary output open.
        ASSERT_TRUE(write_to_child(*child, archive.data(), archive.size() / 2));
        bool temp_seen = false;
        for (int i = 0; i < 3000 && !temp_seen; ++i) {
            temp_seen = !names().empty();
            if (!temp_seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(temp_seen);
        EXPECT_TRUE(signal_child(*child, signal_number));
        // The rest of the archive never comes. Closing the pipe also ends a read that a signal does not
        // interrupt: ThreadSanitizer holds back a signal that reaches a thread inside read() until the
        // call returns.
        close_child_input(*child);
        const ProcessRun run = wait_process(*child);
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_EQ(run.exit_code, 128 + signal_number);
        EXPECT_EQ(names(), std::vector<std::string>{}) << "signal " << signal_number;
    }
}

// Standard input through a pipe that carries `bytes`.
ProcessOptions piped(const std::string& bytes) {
    ProcessOptions options;
    options.input = InputFrom::Memory;
    options.stdin_bytes = bytes;
    return options;
}

TEST_F(FrontEnd, RealPipesBothWays) {
    const std::string archive = copy_conformance("gaps-stereo-lib");
    const fs::path pack = built_program("talvo-pack");
    const Bytes expected = conformance_ogg("gaps-stereo-lib");
    const Bytes archive_bytes = read_bytes(archive);
    const ProcessRun restored =
        run_process(pack, {"-dc", "-"}, piped(std::string(archive_bytes.begin(), archive_bytes.end())));
    ASSERT_EQ(restored.exit_code, 0) << restored.err;
    EXPECT_EQ(Bytes(restored.out.begin(), restored.out.end()), expected);
    // Packed to a pipe, restored from one into a file.
    const ProcessRun packed = run_process(pack, {"-q", "-c", "-"}, piped(restored.out));
    ASSERT_EQ(packed.exit_code, 0) << packed.err;
    ProcessOptions into_file = piped(packed.out);
    into_file.output = OutputTo::File;
    into_file.stdout_file = path("round.ogg");
    ASSERT_EQ(run_process(pack, {"-d"}, into_file).exit_code, 0);
    EXPECT_EQ(read_bytes(path("round.ogg")), expected);
    // Without "-": a piped input is packed to standard output, as gzip does.
    const ProcessRun bare = run_process(pack, {"-q"}, piped(restored.out));
    ASSERT_EQ(bare.exit_code, 0) << bare.err;
    into_file.stdin_bytes = bare.out;
    into_file.stdout_file = path("bare.ogg");
    ASSERT_EQ(run_process(pack, {"-d"}, into_file).exit_code, 0);
    EXPECT_EQ(read_bytes(path("bare.ogg")), expected);
}
#endif

TEST_F(FrontEnd, StandardStreamsCarryArchivesAndOggFilesAsBytes) {
    const std::string archive = copy_conformance("speech-silence-q1");
    ProcessRun run = front({"-dc", "-"}, archive);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(run.out ==
                std::string(reinterpret_cast<const char*>(conformance_ogg("speech-silence-q1").data()),
                            conformance_ogg("speech-silence-q1").size()));
    run = front({"-d"}, archive); // no operand: the archive comes from standard input
    EXPECT_EQ(run.out.size(), conformance_ogg("speech-silence-q1").size());

    write_bytes(path("song.ogg"), conformance_ogg("speech-silence-q1"));
    run = front({"-q", "-c", path("song.ogg")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    write_bytes(path("song.talvo"), Bytes(run.out.begin(), run.out.end()));
    EXPECT_EQ(front({"-t", path("song.talvo")}).exit_code, 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"song.ogg", "song.talvo", "speech-silence-q1.ogg.talvo"}));

    // Several archives to standard output come out one after the other, whatever the thread count.
    const std::string second = copy_conformance("tone-8k-qm1");
    run = front({"-dc", "-j", "4", archive, second, archive});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    Bytes expected = conformance_ogg("speech-silence-q1");
    for (const Bytes& part : {conformance_ogg("tone-8k-qm1"), conformance_ogg("speech-silence-q1")})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_TRUE(Bytes(run.out.begin(), run.out.end()) == expected);
    fs::remove(second);

    run = front({"-c", path("song.ogg"), path("song.ogg")});
    EXPECT_EQ(run.exit_code, 2) << "several archives on standard output would be one broken archive";
    EXPECT_EQ(run.out, "");
}

TEST_F(FrontEnd, SeveralFilesWithOneFailingAreAllDoneAndReportedInOrder) {
    std::vector<std::string> archives;
    for (const char* name : {"gaps-mono-q3", "managed-64k", "native-encoder", "surround-q4"})
        archives.push_back(copy_conformance(name));
    Bytes cut = read_bytes(archives[1]);
    cut.resize(cut.size() / 3);
    write_bytes(archives[1], cut);
    std::vector<std::string> args = {
        "-d", "-j", "4", archives[0], archives[1], path("missing.talvo"), archives[2], archives[3]};
    const ProcessRun run = front(args);
    EXPECT_EQ(run.exit_code, 1);
    for (const char* name : {"gaps-mono-q3", "native-encoder", "surround-q4"})
        EXPECT_EQ(read_bytes(path(std::string(name) + ".ogg")), conformance_ogg(name)) << name;
    EXPECT_FALSE(fs::exists(path("managed-64k.ogg")));
    const size_t cut_line = run.err.find(archives[1]), missing_line = run.err.find("missing.talvo");
    ASSERT_NE(cut_line, std::string::npos) << run.err;
    ASSERT_NE(missing_line, std::string::npos) << run.err;
    EXPECT_LT(cut_line, missing_line) << "messages follow the order of the inputs";
}

TEST_F(FrontEnd, TestAndListFindDamageAndSayWhere) {
    // A stream that is not Vorbis: the packer stores its pages verbatim in a raw item.
    Bytes ogg = ogg_page(0x1234, 0, 2, "first page, stored raw");
    const Bytes last = ogg_page(0x1234, 1, 4, "second page, stored raw");
    ogg.insert(ogg.end(), last.begin(), last.end());
    write_bytes(path("plain.ogg"), ogg);
    ASSERT_EQ(front({"-q", path("plain.ogg")}).exit_code, 0);
    const std::string archive = path("plain.ogg.talvo");
    EXPECT_EQ(front({"-t", archive}).exit_code, 0);
    ProcessRun run = front({"-l", archive});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "raw     00001234")) << run.out;
    EXPECT_TRUE(contains(run.out, "2 whole Ogg pages, checksums checked")) << run.out;

    Bytes damaged = read_bytes(archive);
    const std::string needle = "second page";
    auto at = std::search(damaged.begin(), damaged.end(), needle.begin(), needle.end());
    ASSERT_NE(at, damaged.end());
    *at ^= 0x20;
    write_bytes(archive, damaged);
    run = front({"-t", archive});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "item 1 (raw, serial 00001234): Ogg pages with a wrong checksum (1 of 2)"))
        << run.err;
    run = front({"-l", archive});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.out, "FAILED")) << run.out;
    // The archive's checksum finds the changed byte: the restore fails and leaves nothing.
    run = front({"-d", "-o", path("restored.ogg"), archive});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err,
                         "Archive restored incorrectly! (the restored bytes do not match the archive's "
                         "checksum)"))
        << run.err;
    EXPECT_FALSE(fs::exists(path("restored.ogg")));
    // Without a checksum, restoring gives back what was stored, as talvo does.
    ASSERT_EQ(front({"-q", "-f", "--no-check", path("plain.ogg")}).exit_code, 0);
    damaged = read_bytes(archive);
    at = std::search(damaged.begin(), damaged.end(), needle.begin(), needle.end());
    ASSERT_NE(at, damaged.end());
    *at ^= 0x20;
    write_bytes(archive, damaged);
    EXPECT_EQ(front({"-d", "-o", path("restored.ogg"), archive}).exit_code, 0);
    fs::remove(path("restored.ogg"));

    // A modelled stream damaged inside: the item is named with what the codecs met.
    const std::string flipped = copy_conformance("music-q8");
    Bytes bits = read_bytes(flipped);
    bits[5000] ^= 0xFF;
    write_bytes(flipped, bits);
    run = front({"-t", flipped});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "item 1 (stream, serial 0000006a): restored incompletely (the codecs met"))
        << run.err;
    fs::remove(flipped);

    // A modelled stream cut short: listed as far as it goes, the failed item named.
    const std::string music = copy_conformance("music-q8");
    Bytes cut = read_bytes(music);
    cut.resize(cut.size() / 2);
    write_bytes(music, cut);
    run = front({"-t", music});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "Unexpected end of archive!")) << run.err;
    run = front({"-lv", music});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.out, "128 codebook slots")) << run.out;
    EXPECT_TRUE(contains(run.out, "FAILED")) << run.out;
    EXPECT_EQ(names().size(), 3u) << "testing and listing write nothing";
}

TEST_F(FrontEnd, ListShowsSettingsItemsAndStreamDetails) {
    const std::string archive = copy_conformance("gaps-mono-q3");
    const ProcessRun run = front({"-l", "-v", archive});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "16 codebook slots, statistics fresh per stream")) << run.out;
    EXPECT_TRUE(contains(run.out, "stream  00000065")) << run.out;
    EXPECT_TRUE(contains(run.out, "headers coded")) << run.out;
    EXPECT_TRUE(contains(run.out, "codebooks 35, slots used 10, pages 6, packets 125")) << run.out;
    EXPECT_TRUE(contains(run.out, "1 items")) << run.out;

    const Bytes repeated = load_sample("repeated3.ogg");
    if (repeated.empty()) GTEST_SKIP() << "samples missing";
    write_bytes(path("rep.ogg"), repeated);
    ASSERT_EQ(front({"-q", path("rep.ogg")}).exit_code, 0);
    ProcessRun list = front({"-l", path("rep.ogg.talvo")});
    EXPECT_TRUE(contains(list.out, "repeat  00000066")) << list.out;
    EXPECT_TRUE(contains(list.out, "stream repeated")) << list.out;
    EXPECT_FALSE(contains(list.out, "archives")) << "one archive has one total";

    // Several archives: a total over all of them at the end.
    list = front({"-l", archive, path("rep.ogg.talvo"), archive});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    const size_t all = list.out.rfind("\n   all  3 archives, 5 items");
    EXPECT_NE(all, std::string::npos) << list.out;
    EXPECT_EQ(list.out.find('\n', all + 1), list.out.size() - 1) << "the last line";
}

TEST_F(FrontEnd, ConformanceArchivesRestoreThroughTheFrontEnd) {
    const auto pairs = archive_pairs(test_data_dir("conformance"));
    ASSERT_EQ(pairs.size(), 14u);
    std::vector<std::string> args = {"-d", "-j", "2"};
    for (const ArchivePair& pair : pairs)
        args.push_back(copy_conformance(pair.name));
#ifdef _WIN32
    args.resize(3);
    args.push_back(path("*.talvo")); // cmd.exe leaves patterns to the program
#endif
    const ProcessRun run = front(args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (const ArchivePair& pair : pairs)
        EXPECT_EQ(read_bytes(path(pair.name + ".ogg")), read_bytes(pair.ogg)) << pair.name;
}

TEST_F(FrontEnd, ConcatenatedArchivesRestoreWholeAndOtherTrailingBytesAreRefused) {
    // Two archives with a checksum and one without, one after another in one file.
    std::vector<std::string> inputs;
    for (const char* name : {"gaps-mono-q3", "tone-8k-qm1", "music-q8"}) {
        write_bytes(path(std::string(name) + ".ogg"), conformance_ogg(name));
        inputs.push_back(path(std::string(name) + ".ogg"));
    }
    ASSERT_EQ(front({"-q", inputs[0], inputs[2]}).exit_code, 0);
    ASSERT_EQ(front({"-q", "--no-check", inputs[1]}).exit_code, 0);
    Bytes all, expected;
    for (const std::string& input : inputs) {
        const Bytes archive = read_bytes(input + ".talvo"), ogg = read_bytes(input);
        all.insert(all.end(), archive.begin(), archive.end());
        expected.insert(expected.end(), ogg.begin(), ogg.end());
    }
    write_bytes(path("all.talvo"), all);
    ProcessRun run = front({"-d", path("all.talvo")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(read_bytes(path("all")), expected);
    run = front({"-t", "-v", path("all.talvo")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "OK, 3 archive(s)")) << run.err;
    EXPECT_TRUE(contains(run.err, "carries no checksum")) << run.err;
    run = front({"-l", path("all.talvo")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.out, text_of("archive 2 at byte ", read_bytes(inputs[0] + ".talvo").size())))
        << run.out;
    EXPECT_TRUE(contains(run.out, "no checksum (made without one)")) << run.out;
    EXPECT_TRUE(contains(run.out, ": matches")) << run.out;
    // talvo itself restores the first archive only.
    const ProcessRun restore = talvo({path("all.talvo"), path("first.ogg")});
    EXPECT_EQ(restore.exit_code, 0) << restore.out;
    EXPECT_EQ(read_bytes(path("first.ogg")), conformance_ogg("gaps-mono-q3"));

    // Bytes that are neither an archive nor a checksum: an error, and nothing restored.
    Bytes junk = all;
    for (char c : std::string("junk"))
        junk.push_back(static_cast<uint8_t>(c));
    write_bytes(path("junk.talvo"), junk);
    run = front({"-d", path("junk.talvo")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(
        contains(run.err, text_of("Unexpected data after the archive! (4 bytes at offset ", all.size())))
        << run.err;
    EXPECT_FALSE(fs::exists(path("junk")));
    EXPECT_EQ(front({"-t", path("junk.talvo")}).exit_code, 1);
    run = front({"-l", path("junk.talvo")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.out, "4 bytes at offset")) << run.out;
}

TEST_F(FrontEnd, DamageIsToldApartFromTruncationAndFromADamagedChecksum) {
    // Bytes that are not Ogg: one raw item, whose length code follows the control block.
    Bytes plain(5000);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<uint8_t>("plain text, stored verbatim. "[i % 29]);
    write_bytes(path("plain.txt"), plain);
    ASSERT_EQ(front({"-q", path("plain.txt")}).exit_code, 0);
    const std::string archive = path("plain.txt.talvo");
    const Bytes good = read_bytes(archive);
    const size_t control_code = good[7] & 3;
    size_t control_length = 0;
    for (size_t i = 0; i <= control_code; ++i)
        control_length |= static_cast<size_t>(good[7 + i]) << (8 * i);
    const size_t item = 7 + 1 + control_code + (control_length >> 2);
    ASSERT_LT(item + 10, good.size());

    // A changed byte in the raw item: talvo says that the restore is wrong.
    Bytes bytes = good;
    bytes[item + 2000] ^= 0x01;
    write_bytes(archive, bytes);
    ProcessRun restore = talvo({archive, path("out.bin")});
    EXPECT_EQ(restore.exit_code, 1);
    EXPECT_EQ(restore.out, "TALVO v0.1.1\nArchive restored incorrectly!\n");
    EXPECT_EQ(read_bytes(path("out.bin")).size(), plain.size()) << "talvo keeps what it restored";

    // A damaged checksum: the restore is not proved, but the archive itself is sound.
    bytes = good;
    bytes[bytes.size() - 14] ^= 0x04;
    write_bytes(archive, bytes);
    ProcessRun run = front({"-t", archive});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "Archive checksum is damaged!")) << run.err;
    EXPECT_FALSE(contains(run.err, "item")) << run.err;
    restore = talvo({archive, path("out.bin")});
    EXPECT_EQ(restore.exit_code, 1);
    EXPECT_EQ(restore.out, "TALVO v0.1.1\nArchive checksum is damaged!\n");

    // The item's length claims more than there is: with the checksum after it the archive is known to
    // go on, so that is damage, not an archive cut short, and -l shows no share for it.
    bytes = good;
    const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0x0F}; // a four-byte length code of 64 MiB
    for (size_t i = 0; i < 4; ++i)
        bytes[item + i] = huge[i];
    write_bytes(archive, bytes);
    run = front({"-t", archive});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "Archive is corrupt! (an item's length runs past its items")) << run.err;
    EXPECT_TRUE(contains(run.err, "item 1 (raw): its length runs past the archive's items (damaged)"))
        << run.err;
    EXPECT_FALSE(contains(run.err, "Unexpected end of archive!")) << run.err;
    run = front({"-l", archive});
    EXPECT_FALSE(contains(run.out, "%")) << run.out;
    // Cut short instead: that stays a short archive.
    bytes = good;
    bytes.resize(item + 100);
    write_bytes(archive, bytes);
    EXPECT_TRUE(contains(front({"-t", archive}).err, "Unexpected end of archive!"));
}

TEST_F(FrontEnd, UnicodeFileNames) {
    const std::string name = "s\xc3\xa5ng \xe2\x99\xab \xd0\xb6.ogg";
    fs::copy_file(test_data_dir("conformance") / "tone-8k-qm1.talvo", dir_ / utf8_path(name + ".talvo"));
    ProcessRun run = front({"-d", path(name + ".talvo")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(read_bytes(dir_ / utf8_path(name)), conformance_ogg("tone-8k-qm1"));
    fs::remove(dir_ / utf8_path(name + ".talvo"));
    run = front({"-q", path(name)});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir_ / utf8_path(name + ".talvo")));
}

} // namespace
