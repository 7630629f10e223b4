// talvo-pack as a user runs it: archive names, several inputs, overwriting, failures that leave
// nothing behind and say why, inputs left alone or removed, forced settings, exit statuses; every
// archive restored by the talvo program.

#include "archive/archive_extension.h"
#include "archive/bundle_manifest.h"
#include "cli/bundle_inputs.h"
#include "pack/packer.h"
#include "process_runner.h"
#include "sample_files.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

class PackCli : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string copy_sample(const std::string& name) {
        const Bytes bytes = load_sample(name);
        if (bytes.empty()) ADD_FAILURE() << name << " missing";
        return write_file(name, bytes);
    }
    std::string write_file(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }
    static Bytes read_file(const std::string& full_path) {
        std::ifstream in(full_path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    // Standard output as console text.
    static ProcessRun pack(const std::vector<std::string>& args) {
        ProcessOptions options;
        options.as_console_text = true;
        return run_process(built_program("talvo-pack"), args, options);
    }
    // Standard output as the bytes written (and standard input from a file, or the null device).
    static ProcessRun pack_child(const std::vector<std::string>& args, const std::string& stdin_path = "") {
        ProcessOptions options;
        if (!stdin_path.empty()) {
            options.input = InputFrom::File;
            options.stdin_file = utf8_path(stdin_path);
        }
        return run_process(built_program("talvo-pack"), args, options);
    }
    // With standard output sent to `output_file` (and limits, when given).
    static ProcessRun pack_into(const std::vector<std::string>& args, const std::string& output_file,
                                ProcessOptions options = {}) {
        options.output = OutputTo::File;
        options.stdout_file = output_file;
        return run_process(built_program("talvo-pack"), args, options);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    // talvo restores `archive` to exactly the bytes of `original`.
    void expect_restores(const std::string& archive, const std::string& original) {
        const std::string out = path("restored.bin");
        fs::remove(out);
        const ProcessRun run = run_process(built_program("talvo"), {archive, out});
        EXPECT_EQ(run.exit_code, 0) << run.out;
        EXPECT_EQ(read_file(out), read_file(original)) << archive;
    }
    size_t file_count() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}));
    }
    ScratchDir scratch_{"talvo-pack-cli"};
    const fs::path dir_ = scratch_.path();
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(PackCli, OneInputGoesToInputDotTalvo) {
    const std::string in = copy_sample("chained.ogg");
    const ProcessRun run = pack({in});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, ""); // reports go to standard error
    expect_restores(in + ".talvo", in);
    EXPECT_EQ(file_count(), 3u) << "no temporary file is left behind";
}

TEST_F(PackCli, SeveralInputsEachGetTheirOwnArchive) {
    const std::string a = copy_sample("repeated3.ogg"), b = copy_sample("opus.ogg"),
                      c = write_file("notes.txt", {'h', 'i'});
    const ProcessRun run = pack({"-q", a, b, path("missing.ogg"), c});
    EXPECT_EQ(run.exit_code, 1) << "one input was missing";
    for (const std::string& in : {a, b, c})
        expect_restores(in + ".talvo", in);
    EXPECT_FALSE(fs::exists(path("missing.ogg.talvo")));
}

TEST_F(PackCli, ExistingArchivesAreKeptUnlessForced) {
    const std::string in = copy_sample("oggenc_q0.ogg");
    const std::string archive = write_file("old.talvo", {9, 9, 9});
    EXPECT_EQ(pack({in, archive}).exit_code, 1);
    EXPECT_EQ(read_file(archive), Bytes({9, 9, 9}));
    EXPECT_EQ(pack({"-f", in, archive}).exit_code, 0);
    expect_restores(archive, in);
    const std::string song = write_file("song.bin", read_file(in));
    EXPECT_EQ(pack({"-f", "-o", song, song}).exit_code, 1) << "an input is never replaced by its archive";
    EXPECT_EQ(read_file(song), load_sample("oggenc_q0.ogg"));
}

TEST_F(PackCli, NoFileIsTakenForAnOutputUnlessNamedAsOne) {
    const std::string a = copy_sample("oggenc_q0.ogg");
    Bytes wav(3000);
    for (size_t i = 0; i < wav.size(); ++i)
        wav[i] = static_cast<uint8_t>(i * 7 + 1);
    const std::string c = write_file("C.wav", wav), d = write_file("D.webm", {1, 2, 3});
    for (const std::string& second : {c, d}) {
        const ProcessRun run = pack({"-q", "-f", a, second});
        EXPECT_EQ(run.exit_code, 0) << second;
        expect_restores(a + ".talvo", a);
        expect_restores(second + ".talvo", second); // the second operand is one more input
    }
    EXPECT_EQ(read_file(c), wav);
    EXPECT_EQ(read_file(d), Bytes({1, 2, 3}));
    EXPECT_EQ(pack({"-q", "-f", "-o", d, a}).exit_code, 0) << "-o names any output";
    expect_restores(d, a);
}

TEST_F(PackCli, FailuresGiveTheSystemsReasonAndTheUsersNames) {
    const std::string in = copy_sample("oggenc_q0.ogg");
    ASSERT_EQ(pack({"-q", "-k", in}).exit_code, 0);
    const std::string archive = in + ".talvo";
    fs::create_directories(dir_ / "folder");
    const std::string folder = path("folder"), lost = path("no/such/dir/out.talvo");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    std::vector<Case> cases = {
        {{path("missing.ogg")}, path("missing.ogg") + ": No such file or directory"},
        {{"-d", path("missing.talvo")}, path("missing.talvo") + ": No such file or directory"},
        {{in, lost}, "cannot write " + lost + ": No such file or directory"},
        {{"-d", "-o", lost, archive}, "cannot write " + lost + ": No such file or directory"},
        {{"-o", folder, in}, folder + ": Is a directory"},
        {{"-f", "-o", folder, in}, folder + ": Is a directory"},
        {{"-d", "-f", "-o", folder, archive}, folder + ": Is a directory"},
        {{folder}, path("folder") + ": Is a directory"},
    };
#ifndef _WIN32
    if (geteuid() != 0) { // permissions bind every user but root
        const std::string locked = write_file("locked.ogg", {1, 2, 3});
        fs::permissions(locked, fs::perms::none);
        fs::create_directories(dir_ / "readonly");
        fs::permissions(dir_ / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
        cases.push_back({{locked}, locked + ": Permission denied"});
        cases.push_back({{in, path("readonly/out.talvo")},
                         "cannot write " + path("readonly/out.talvo") + ": Permission denied"});
    }
#endif
    for (const Case& c : cases) {
        const ProcessRun run = pack_child(c.args);
        EXPECT_EQ(run.exit_code, 1) << c.message;
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_FALSE(contains(run.err, ".tmp")) << "never the temporary name: " << run.err;
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "folder"));
    EXPECT_FALSE(fs::exists(path("no")));
}

TEST_F(PackCli, ArchivesLinksAndSpecialFilesAreLeftAloneWithoutForce) {
    const std::string in = copy_sample("oggenc_q0.ogg");
    ASSERT_EQ(pack({"-q", in}).exit_code, 0);
    const std::string archive = in + ".talvo";
    ProcessRun run = pack_child({archive});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "already ends in .talvo")) << run.err;
    EXPECT_FALSE(fs::exists(archive + ".talvo"));
    EXPECT_EQ(pack({"-q", "-o", path("twice.talvo"), archive}).exit_code, 0) << "named on purpose";
    expect_restores(path("twice.talvo"), archive);
#ifndef _WIN32
    fs::create_symlink(in, path("link.ogg"));
    run = pack_child({path("link.ogg")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "is a symbolic link")) << run.err;
    EXPECT_FALSE(fs::exists(path("link.ogg.talvo")));
    run = pack_child({"-q", "-c", path("link.ogg")});
    EXPECT_EQ(run.exit_code, 0) << "to standard output: " << run.err;
    EXPECT_FALSE(run.out.empty());
    EXPECT_EQ(pack({"-q", "-f", path("link.ogg")}).exit_code, 0);
    expect_restores(path("link.ogg.talvo"), in);
    fs::create_symlink(archive, path("link.talvo"));
    run = pack_child({"-d", "-o", path("out.ogg"), path("link.talvo")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "is a symbolic link")) << run.err;
    EXPECT_EQ(pack_child({"-t", path("link.talvo")}).exit_code, 0) << "testing reads through links";
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{path("fifo")},
          std::vector<std::string>{"-q", "/dev/null", "-o", path("null.talvo")}}) {
        run = pack_child(args);
        EXPECT_EQ(run.exit_code, 1) << args.back();
        EXPECT_TRUE(contains(run.err, "is not a regular file")) << run.err;
    }
    EXPECT_EQ(pack({"-q", "-f", "/dev/null", "-o", path("null.talvo")}).exit_code, 0);
    EXPECT_FALSE(fs::exists(path("fifo.talvo")));
#endif
}

TEST_F(PackCli, RemovesInputsOnlyAfterTheirOutputIsWritten) {
    const std::string in = copy_sample("chained.ogg");
    const Bytes original = read_file(in);
    ASSERT_EQ(pack({"-q", "--rm", in}).exit_code, 0);
    EXPECT_FALSE(fs::exists(in));
    ASSERT_EQ(pack({"-d", "--rm", in + ".talvo"}).exit_code, 0);
    EXPECT_FALSE(fs::exists(in + ".talvo"));
    EXPECT_EQ(read_file(in), original);

    // Failures keep the input: an archive in the way, an archive that does not restore.
    write_file("chained.ogg.talvo", {7});
    EXPECT_EQ(pack({"-q", "--rm", in}).exit_code, 1);
    EXPECT_EQ(read_file(in), original);
    ASSERT_EQ(pack({"-q", "-f", in}).exit_code, 0);
    Bytes cut = read_file(in + ".talvo");
    cut.resize(cut.size() / 2);
    write_file("cut.talvo", cut);
    EXPECT_EQ(pack({"-d", "--rm", path("cut.talvo")}).exit_code, 1);
    EXPECT_EQ(read_file(path("cut.talvo")), cut);
    EXPECT_FALSE(fs::exists(path("cut")));
}

TEST_F(PackCli, AFailedWriteLeavesNothingBehind) {
    const std::string in = copy_sample("oggenc_q0.ogg");
    EXPECT_EQ(pack({in, path("no/such/dir/out.talvo")}).exit_code, 1);
    EXPECT_EQ(file_count(), 1u);
}

TEST_F(PackCli, ForcedSettingsReachTheFlagsByte) {
    const std::string in = copy_sample("chained.ogg");
    for (const auto& [args, flags] :
         std::vector<std::pair<std::vector<std::string>, uint8_t>>{{{"-s", "2", "--carry"}, 0x0A},
                                                                   {{"-s0", "--no-carry"}, 0x00},
                                                                   {{"-s", "1", "--no-carry"}, 0x01}}) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"-f", "--no-verify", in, path("forced.talvo")});
        ASSERT_EQ(pack(all).exit_code, 0);
        const Bytes archive = read_file(path("forced.talvo"));
        ASSERT_GT(archive.size(), 6u);
        EXPECT_EQ(archive[6], flags);
        expect_restores(path("forced.talvo"), in);
    }
}

// The current directory, for as long as it lives (children started meanwhile inherit it).
struct InDirectory {
    fs::path previous = fs::current_path();
    explicit InDirectory(const fs::path& directory) { fs::current_path(directory); }
    ~InDirectory() { fs::current_path(previous); }
};

// A tree of Ogg and other files, with times and permissions of their own, for bundles.
class BundleCli : public PackCli {
  protected:
    void TearDown() override {
        // Windows removes no read-only file: the tree's own is made writable first.
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored))
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        PackCli::TearDown();
    }
    void make_tree() {
        fs::create_directories(path("src/music/level 1"));
        fs::create_directories(path("src/empty dir"));
        write_file("src/music/level 1/theme.ogg", load_sample("chained.ogg"));
        write_file("src/music/title.ogg", load_sample("oggenc_q0.ogg"));
        write_file("src/effects.ogg", load_sample("repeated3.ogg"));
        write_file("src/readme.txt", Bytes(1000, 'r'));
        write_file("src/zero", {});
        fs::permissions(path("src/readme.txt"), fs::perms::owner_read | fs::perms::group_read);
        fs::last_write_time(path("src/music/title.ogg"),
                            fs::file_time_type::clock::now() - std::chrono::hours(5000));
    }
    // The files under `root`, relative, sorted, as the bundle orders them.
    static std::vector<std::string> tree(const fs::path& root) {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file())
                files.push_back(entry.path().lexically_relative(root).generic_string());
        std::sort(files.begin(), files.end());
        return files;
    }
    void expect_same_tree(const fs::path& a, const fs::path& b) {
        const std::vector<std::string> files = tree(a);
        EXPECT_EQ(tree(b), files);
        for (const std::string& file : files) {
            EXPECT_EQ(read_file((b / file).string()), read_file((a / file).string())) << file;
            EXPECT_EQ(fs::last_write_time(b / file), fs::last_write_time(a / file)) << file;
            EXPECT_EQ(fs::status(b / file).permissions(), fs::status(a / file).permissions()) << file;
        }
    }
};

TEST_F(BundleCli, AFolderRestoresAsItWasAndAsOneConcatenation) {
    make_tree();
    const std::string bundle = path("sounds.talvo");
    ASSERT_EQ(pack({"-q", "-j", "1", "-o", bundle, path("src")}).exit_code, 0);
    const std::string again = path("again.talvo");
    ASSERT_EQ(pack({"-q", "-j", "2", "-o", again, path("src")}).exit_code, 0);
    EXPECT_EQ(read_file(again), read_file(bundle)) << "the same archive for every -j";

    fs::create_directories(path("out"));
    ProcessRun run = pack_child({"-d", "-C", path("out"), bundle});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // Operands keep the path given: an absolute one without its leading '/'.
    const fs::path restored = path("out") / fs::path(path("src")).relative_path();
    expect_same_tree(path("src"), restored);
    EXPECT_TRUE(fs::exists(restored / "zero"));

    // Any unpacker restores the members one after another, in the manifest's order, which -l lists.
    run = pack_child({"-l", bundle});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::vector<std::string> order;
    for (size_t at = run.out.find("/src/"); at != std::string::npos; at = run.out.find("/src/", at + 1))
        order.push_back(run.out.substr(at + 5, run.out.find('\n', at) - at - 5));
    std::vector<std::string> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, tree(path("src"))) << run.out;
    // Vorbis files before other files, the largest (the chained file) last.
    EXPECT_EQ(order.back(), "music/level 1/theme.ogg") << run.out;
    EXPECT_TRUE(std::find(order.begin(), order.end(), "music/title.ogg") <
                std::find(order.begin(), order.end(), "readme.txt"))
        << run.out;
    Bytes joined;
    for (const std::string& file : order) {
        const Bytes bytes = read_file(path("src/" + file));
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    const ProcessRun talvo = run_process(built_program("talvo"), {bundle, path("joined.bin")});
    EXPECT_EQ(talvo.exit_code, 0);
    EXPECT_EQ(read_file(path("joined.bin")), joined);
    // So does talvo-pack when the output is named.
    run = pack_child({"-d", "-o", path("named.bin"), bundle});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(read_file(path("named.bin")), joined);

    run = pack_child({"-t", "-v", bundle});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "5 files, each matches its checksum")) << run.err;
    run = pack_child({"-d", "-C", path("nowhere"), bundle});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "not a directory")) << run.err;
    EXPECT_FALSE(fs::exists(path("nowhere")));
    // Existing files are replaced only with -f.
    run = pack_child({"-d", "-C", path("out"), bundle});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "exists (use -f")) << run.err;
    run = pack_child({"-d", "-f", "-C", path("out"), bundle});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    expect_same_tree(path("src"), restored);
}

// With its settings forced and one member order, a bundle is packed once through temporary files beside
// its archive (the members joined, the archive's items): none is left, and the archive is the one the
// packer makes of the concatenation in memory.
TEST_F(BundleCli, ASpooledBundleIsTheArchiveMadeInMemory) {
    fs::create_directories(path("src/a"));
    write_file("src/a/one.ogg", load_sample("oggenc_q3.ogg"));
    write_file("src/b.ogg", load_sample("oggenc_q3.ogg"));
    write_file("src/c.ogg", load_sample("oggenc_q6.ogg"));
    fs::create_directories(path("out"));
    const std::string bundle = path("out/b.talvo");
    ASSERT_EQ(pack({"-q", "-s", "1", "-j", "1", "-o", bundle, path("src")}).exit_code, 0);
    const Bytes archive = read_file(bundle);
    EXPECT_EQ(std::distance(fs::directory_iterator(path("out")), fs::directory_iterator()), 1)
        << "no temporary file is left";
    ASSERT_EQ(pack({"-q", "-f", "-s", "1", "-j", "2", "-o", bundle, path("src")}).exit_code, 0);
    EXPECT_EQ(read_file(bundle), archive) << "the same archive for every -j";

    ExtensionTrailer trailer;
    ASSERT_TRUE(read_extension_trailer(archive.data() + archive.size() - kExtensionTrailerSize, trailer));
    ExtensionFrame frame;
    ASSERT_TRUE(parse_extension(archive.data() + trailer.member_length, trailer.length, frame));
    std::vector<BundleMember> members;
    std::string error;
    ASSERT_EQ(find_manifest(frame, members, error), 1) << error;
    // The members in the manifest's order.
    Bytes joined;
    for (const BundleMember& member : members)
        for (const std::string file : {"a/one.ogg", "b.ogg", "c.ogg"})
            if (member.path.size() >= file.size() + 5 &&
                member.path.compare(member.path.size() - file.size() - 5, std::string::npos,
                                    "/src/" + file) == 0) {
                const Bytes bytes = read_file(path("src/" + file));
                joined.insert(joined.end(), bytes.begin(), bytes.end());
            }
    ContentDigest digest;
    ASSERT_TRUE(find_content(frame, digest));
    ASSERT_EQ(joined.size(), digest.length) << "every member found";
    PackOptions options;
    options.flags = 0x09; // 32 slots, statistics carried over
    options.checksum = true;
    options.extension_records = {manifest_record(members)};
    const PackResult in_memory = pack_file(joined.data(), joined.size(), options);
    ASSERT_EQ(in_memory.status, PackStatus::Ok);
    EXPECT_TRUE(in_memory.archive == archive);
}

TEST_F(BundleCli, RelativeOperandsAndRecursivePacking) {
    make_tree();
    // Relative operands are stored as given, "./" dropped; the walk order does not depend on them.
    {
        const InDirectory here(dir_);
        ProcessRun run = pack_child({"-q", "-o", "b.talvo", "./src/music", "src/zero"});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        run = pack_child({"-l", "b.talvo"});
        EXPECT_TRUE(contains(run.out, "  src/music/level 1/theme.ogg\n")) << run.out;
        EXPECT_TRUE(contains(run.out, "  src/zero\n")) << run.out;
        run = pack_child({"-q", "-o", "up.talvo", "../" + dir_.filename().string() + "/src"});
        EXPECT_EQ(run.exit_code, 1) << "a path that climbs out is never stored";
        EXPECT_TRUE(contains(run.err, "\"..\" component")) << run.err;
    }

#ifndef _WIN32
    // A FIFO is no file to keep: a walked folder leaves it out (nothing waits for a writer), and named as
    // an operand it is refused like any file that is not regular.
    ASSERT_EQ(mkfifo(path("src/music/pipe").c_str(), 0600), 0);
    ProcessRun run = pack_child({"-q", "-o", path("fifo.talvo"), path("src/music")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    run = pack_child({"-l", path("fifo.talvo")});
    EXPECT_TRUE(contains(run.out, "title.ogg")) << run.out;
    EXPECT_FALSE(contains(run.out, "pipe")) << run.out;
    run = pack_child({"-q", "-o", path("named.talvo"), path("src/zero"), path("src/music/pipe")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "is not a regular file")) << run.err;
    EXPECT_FALSE(fs::exists(path("named.talvo")));
    fs::remove(path("src/music/pipe"));
#endif

    // -r: each file under the directory into its own archive, the archives left alone the next time.
    ASSERT_EQ(pack({"-q", "-r", path("src/music")}).exit_code, 0);
    expect_restores(path("src/music/level 1/theme.ogg.talvo"), path("src/music/level 1/theme.ogg"));
    expect_restores(path("src/music/title.ogg.talvo"), path("src/music/title.ogg"));
    EXPECT_EQ(pack({"-q", "-r", path("src/music")}).exit_code, 1) << "the archives exist now";
    EXPECT_EQ(tree(path("src/music")).size(), 4u);
}

TEST_F(BundleCli, ADamagedBundleKeepsTheMembersBeforeTheDamage) {
    fs::create_directories(path("src"));
    write_file("src/a.ogg", load_sample("oggenc_q0.ogg"));
    write_file("src/b.txt", Bytes(100, 'b'));
    write_file("src/z.txt", Bytes(1 << 20, 'z')); // the largest: last by path and by size
    const std::string bundle = path("b.talvo");
    ASSERT_EQ(pack({"-q", "-o", bundle, path("src")}).exit_code, 0);
    Bytes bytes = read_file(bundle);
    ExtensionTrailer trailer;
    ASSERT_TRUE(read_extension_trailer(bytes.data() + bytes.size() - kExtensionTrailerSize, trailer));
    bytes[trailer.member_length - 200] ^= 0x40; // within z.txt, stored verbatim last
    write_file("b.talvo", bytes);
    fs::create_directories(path("out"));
    for (const char* mode : {"-t", "-d"}) {
        const ProcessRun run = pack_child({mode, "-C", path("out"), bundle});
        EXPECT_EQ(run.exit_code, 1) << mode;
        EXPECT_TRUE(contains(run.err, "member 3 of 3")) << run.err;
        EXPECT_TRUE(contains(run.err, "z.txt: restored bytes do not match its checksum")) << run.err;
    }
    const fs::path restored = path("out") / fs::path(path("src")).relative_path();
    EXPECT_EQ(tree(restored), std::vector<std::string>({"a.ogg", "b.txt"})) << "no temporary file either";
    EXPECT_EQ(read_file((restored / "b.txt").string()), Bytes(100, 'b'));
}

// Members are read when listed and again when joined for packing: one that changed in between would
// not restore as its manifest entry says, and is refused.
TEST_F(BundleCli, AMemberThatChangedSinceItWasListedIsRefused) {
    auto listed = [&](const std::string& name, const Bytes& bytes) {
        BundleInput input{write_file(name, bytes), {}, nullptr};
        input.member.path = name;
        input.member.length = bytes.size();
        input.member.checksum = content_checksum(bytes.data(), bytes.size());
        return input;
    };
    struct Change {
        const char* what;
        Bytes now; // empty with `removed`
        bool removed;
        const char* why;
    };
    const std::vector<Change> changes = {
        {"other bytes, same length", {'b', 'b', 'x'}, false, "changed while it was being packed"},
        {"shorter", {'b', 'b'}, false, "changed while it was being packed"},
        {"longer", {'b', 'b', 'b', 'b'}, false, "changed while it was being packed"},
        {"removed", {}, true, "No such file"},
    };
    for (const Change& change : changes) {
        std::vector<BundleInput> inputs = {listed("a.bin", {'a'}), listed("b.bin", {'b', 'b', 'b'})};
        Bytes joined;
        std::string error;
        ASSERT_TRUE(join_members(inputs, {1, 0}, SIZE_MAX, joined, error)) << error;
        EXPECT_EQ(joined, Bytes({'b', 'b', 'b', 'a'}));
        if (change.removed)
            fs::remove(path("b.bin"));
        else
            write_file("b.bin", change.now);
        EXPECT_FALSE(join_members(inputs, {0, 1}, SIZE_MAX, joined, error)) << change.what;
        EXPECT_TRUE(contains(error, path("b.bin") + ": ")) << error;
        EXPECT_TRUE(contains(error, change.why)) << change.what << ": " << error;
        // Bytes held from the first reading (a pipe's) are not read again.
        inputs[1].held = std::make_shared<const std::vector<uint8_t>>(Bytes{'b', 'b', 'b'});
        EXPECT_TRUE(join_members(inputs, {0, 1}, SIZE_MAX, joined, error)) << error;
        EXPECT_EQ(joined, Bytes({'a', 'b', 'b', 'b'}));
    }
}

#ifndef _WIN32
// A pipe named with -f is read once: opened again it would wait for a writer that never comes.
TEST_F(BundleCli, APipeMemberIsReadOnceEvenWhenEmpty) {
    write_file("zero", {});
    for (const Bytes& content : {Bytes{}, Bytes{'h', 'i'}}) {
        ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
        // A packer still running long after is waiting on the pipe again: the timeout ends it.
        ProcessOptions options;
        options.timeout_seconds = 20;
        const ChildHandle child =
            start_process(built_program("talvo-pack"),
                          {"-q", "-f", "-o", path("p.talvo"), path("pipe"), path("zero")}, options);
        // The writer opens once the packer reads; it writes the content and is gone.
        int writer = -1;
        for (int tries = 0; tries < 2000 && writer < 0; ++tries) {
            writer = open(path("pipe").c_str(), O_WRONLY | O_NONBLOCK);
            if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_GE(writer, 0) << "the packer never opened the pipe";
        EXPECT_EQ(write(writer, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(writer);
        const ProcessRun run = wait_process(*child);
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_FALSE(run.timed_out) << content.size() << " bytes: the pipe was opened a second time";
        ASSERT_EQ(run.exit_code, 0) << run.err;
        ASSERT_EQ(pack({"-d", "-f", "-o", path("joined.bin"), path("p.talvo")}).exit_code, 0);
        EXPECT_EQ(read_file(path("joined.bin")), content);
        fs::remove(path("pipe"));
    }
}
#endif

// A bundle of "a.txt" and "b.txt" (two bytes each) whose manifest is replaced by `members`.
Bytes forged_bundle(const Bytes& bundle, const std::vector<BundleMember>& members) {
    ExtensionTrailer trailer;
    EXPECT_TRUE(read_extension_trailer(bundle.data() + bundle.size() - kExtensionTrailerSize, trailer));
    ExtensionFrame frame;
    EXPECT_TRUE(parse_extension(bundle.data() + trailer.member_length, trailer.length, frame));
    ContentDigest digest;
    EXPECT_TRUE(find_content(frame, digest));
    Bytes forged(bundle.begin(), bundle.begin() + static_cast<ptrdiff_t>(trailer.member_length));
    const Bytes extension =
        make_extension(trailer.member_length, {content_record(digest), manifest_record(members)});
    forged.insert(forged.end(), extension.begin(), extension.end());
    return forged;
}

TEST_F(BundleCli, HostileManifestsAreRefusedBeforeAnythingIsWritten) {
    fs::create_directories(path("src"));
    write_file("src/a.txt", {'a', 'a'});
    write_file("src/b.txt", {'b', 'b'});
    {
        const InDirectory here(dir_);
        ASSERT_EQ(pack_child({"-q", "-o", "good.talvo", "src"}).exit_code, 0);
    }
    const Bytes good = read_file(path("good.talvo"));
    auto member = [](const std::string& name, uint64_t length = 2) {
        BundleMember m;
        m.path = name;
        m.length = length;
        return m;
    };
    struct Case {
        std::vector<BundleMember> members;
        const char* why;
    };
    const std::vector<Case> cases = {
        {{member("a"), member("../outside/b.txt")}, "\"..\" component"},
        {{member("a"), member("/tmp/b.txt")}, "absolute"},
        {{member("a"), member("C:/b.txt")}, "drive letter"},
        {{member("a"), member("x/../../outside/b.txt")}, "\"..\" component"},
        {{member("a"), member("x//b.txt")}, "empty component"},
        {{member("a"), member("..\\outside\\b.txt")}, "backslash"},
        {{member("a"), member(std::string("b\0.txt", 6))}, "NUL"},
        {{member("a"), member("AUX.txt")}, "device"},
        {{member("a"), member("b?.txt")}, "Windows refuses"},
        {{member("a"), member("a")}, "appears twice"},
        {{member("a"), member("a/b")}, "passes through"},
        {{member("a"), member("b", 3)}, "add up"},
        {{member("a", 1), member("b", 2)}, "add up"},
    };
    fs::create_directories(path("out/planted dir"));
    fs::create_directories(path("outside"));
    for (size_t i = 0; i < cases.size(); ++i) {
        write_file("hostile.talvo", forged_bundle(good, cases[i].members));
        for (const char* mode : {"-d", "-t", "-l"}) {
            const ProcessRun run = pack_child({mode, "-f", "-C", path("out"), path("hostile.talvo")});
            EXPECT_EQ(run.exit_code, 1) << i << mode;
            EXPECT_TRUE(contains(run.err, "refused")) << i << mode << run.err;
            EXPECT_TRUE(contains(run.err, cases[i].why)) << i << mode << run.err;
        }
    }
    // What the destination holds: a member over a directory, or through a link that leads outside.
    struct Planted {
        const char* path;
        const char* why;
    };
    std::vector<Planted> planted = {{"planted dir", "is a directory"}};
#ifndef _WIN32
    fs::create_directory_symlink("../outside", path("out/link"));
    planted.push_back({"link/b.txt", "symbolic link"});
#endif
    for (const Planted& p : planted) {
        write_file("hostile.talvo", forged_bundle(good, {member("a.txt"), member(p.path)}));
        const ProcessRun run = pack_child({"-d", "-f", "-C", path("out"), path("hostile.talvo")});
        EXPECT_EQ(run.exit_code, 1) << p.path;
        EXPECT_TRUE(contains(run.err, p.why)) << run.err;
    }
    EXPECT_TRUE(fs::is_empty(path("outside")));
    EXPECT_FALSE(fs::exists(path("out/a.txt"))) << "refused before the first member was written";
    EXPECT_TRUE(fs::is_empty(path("out/planted dir")));
}

// Paths that differ only in case are two files here and one on Windows: there the later member is
// refused, never written over the earlier one, -f or not.
TEST_F(BundleCli, PathsThatDifferOnlyInCaseNeverReplaceEachOther) {
    fs::create_directories(path("src"));
    write_file("src/a.txt", {'a', 'a'});
    write_file("src/b.txt", {'b', 'b'});
    {
        const InDirectory here(dir_);
        ASSERT_EQ(pack_child({"-q", "-o", "good.talvo", "src"}).exit_code, 0);
    }
    auto member = [](const std::string& name, const Bytes& bytes) {
        BundleMember m;
        m.path = name;
        m.length = bytes.size();
        m.permissions = 0644;
        m.checksum = content_checksum(bytes.data(), bytes.size());
        return m;
    };
    write_file("cases.talvo", forged_bundle(read_file(path("good.talvo")),
                                            {member("d/a.txt", {'a', 'a'}), member("D/A.txt", {'b', 'b'})}));
    fs::create_directories(path("out"));
    for (const char* force : {"-q", "-f"}) {
        const ProcessRun run = pack_child({"-d", force, "-C", path("out"), path("cases.talvo")});
#ifdef _WIN32
        EXPECT_EQ(run.exit_code, 1) << force;
        EXPECT_TRUE(contains(run.err, "differ only in case")) << run.err;
        EXPECT_EQ(read_file(path("out/d/a.txt")), Bytes({'a', 'a'})) << "the first member is kept";
#else
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(read_file(path("out/d/a.txt")), Bytes({'a', 'a'}));
        EXPECT_EQ(read_file(path("out/D/A.txt")), Bytes({'b', 'b'}));
#endif
        fs::remove_all(path("out/d"));
        fs::remove_all(path("out/D"));
    }
}

TEST_F(PackCli, UsageErrorsExitWithTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--bogus", "a"},
                                                                  {"-s", "4", "a"},
                                                                  {"-s"},
                                                                  {"--rm", "-c", "a"},
                                                                  {"-C", "x", "a"},
                                                                  {"-o", "b.talvo", "--no-check", "a", "b"},
                                                                  {"-o", "b.talvo", "--rm", "a", "b"}}) {
        const ProcessRun run = pack(args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(file_count(), 0u);
}

TEST_F(PackCli, VerboseReportNamesEveryStreamAndHowItWasStored) {
    const std::string in = copy_sample("repeated3.ogg");
    ProcessRun run = pack_child({"-v", in});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.err.find("Vorbis stream 00000065: modelled"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Vorbis stream 00000066: repeated"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Vorbis stream 00000067: repeated"), std::string::npos) << run.err;

    run = pack_child({"-q", "-f", in});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
}

#ifndef _WIN32
TEST_F(PackCli, WhatStandardOutputRefusesIsAFailure) {
    const std::string in = copy_sample("oggenc_q0.ogg");
    ASSERT_EQ(pack({"-q", in}).exit_code, 0);
    const std::string archive = in + ".talvo";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-l", archive}, {"-l", archive, archive}, {"--help"}, {"-V"}, {"-dc", archive}, {"-qc", in}}) {
        const ProcessRun run = pack_into(args, "/dev/full");
        EXPECT_EQ(run.exit_code, 1) << args[0];
        EXPECT_TRUE(contains(run.err, "No space left on device")) << args[0] << ": " << run.err;
    }
}

TEST_F(PackCli, TheFileSizeLimitLeavesNoTemporaryFile) {
    Bytes noise(300000);
    uint32_t state = 1;
    for (uint8_t& byte : noise) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    const std::string big = write_file("big.bin", noise);
    ASSERT_EQ(pack({"-q", "-o", path("big.talvo"), big}).exit_code, 0);
    // 100 blocks of 512 bytes: much less than either file.
    ProcessOptions limit;
    limit.file_size_limit = 100 * 512;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-f", big}, {"-d", "-o", path("restored.bin"), path("big.talvo")}}) {
        const ProcessRun run = pack_into(args, "/dev/null", limit);
        EXPECT_EQ(run.exit_code, 1) << args[1];
        EXPECT_TRUE(contains(run.err, "File too large")) << run.err;
        EXPECT_EQ(names(), (std::vector<std::string>{"big.bin", "big.talvo"}));
    }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TALVO_SANITIZED_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALVO_SANITIZED_BUILD 1
#endif

TEST_F(PackCli, RunningOutOfMemoryIsAFailureThatLeavesNothing) {
#ifdef TALVO_SANITIZED_BUILD
    GTEST_SKIP() << "a sanitizer reserves more address space than the limit allows";
#endif
    // A sparse file larger than the address space allowed: nothing on disk, nothing read.
    { std::ofstream sparse(path("z.bin"), std::ios::binary); }
    fs::resize_file(path("z.bin"), uint64_t{400} << 20);
    ProcessOptions limit;
    limit.address_space_limit = uint64_t{300000} << 10;
    ProcessRun run = pack_into({path("z.bin")}, "/dev/null", limit);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "z.bin: out of memory")) << run.err;
    EXPECT_EQ(names(), (std::vector<std::string>{"z.bin"}));
    // From a pipe that never ends: zeros until talvo-pack gives up and closes it.
    limit.input = InputFrom::Pipe;
    limit.output = OutputTo::NullDevice;
    ChildHandle child = start_process(built_program("talvo-pack"), {}, limit);
    const std::vector<char> zeros(1 << 16, 0);
    while (write_to_child(*child, zeros.data(), zeros.size())) {
    }
    run = wait_process(*child);
    ASSERT_TRUE(run.started) << run.start_error;
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "out of memory")) << run.err;
}
#endif

} // namespace
