// talvo-pack as a user runs it: archive names, several inputs, overwriting, failures that leave
// nothing behind, forced settings, exit statuses; every archive restored by the talvo program.

#include "run_program.h"
#include "sample_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

class PackCli : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               (std::string("talvo_pack_cli_") + std::to_string(current_process_id()) + "_" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
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
    static ProgramRun pack(const std::vector<std::string>& args) {
        return run_program(program_path("talvo-pack"), args);
    }
    // talvo restores `archive` to exactly the bytes of `original`.
    void expect_restores(const std::string& archive, const std::string& original) {
        const std::string out = path("restored.bin");
        fs::remove(out);
        const ProgramRun run = run_program(program_path("talvo"), {archive, out});
        EXPECT_EQ(run.exit_code, 0) << run.output;
        EXPECT_EQ(read_file(out), read_file(original)) << archive;
    }
    size_t file_count() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}));
    }
    fs::path dir_;
};

TEST_F(PackCli, OneInputGoesToInputDotTalvo) {
    const std::string in = copy_sample("chained.ogg");
    const ProgramRun run = pack({in});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, ""); // reports go to standard error
    expect_restores(in + ".talvo", in);
    EXPECT_EQ(file_count(), 3u) << "no temporary file is left behind";
}

TEST_F(PackCli, SeveralInputsEachGetTheirOwnArchive) {
    const std::string a = copy_sample("repeated3.ogg"), b = copy_sample("opus.ogg"),
                      c = write_file("notes.txt", {'h', 'i'});
    const ProgramRun run = pack({"-q", a, b, path("missing.ogg"), c});
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
    EXPECT_EQ(pack({"-f", song, song}).exit_code, 1) << "an input is never replaced by its archive";
    EXPECT_EQ(read_file(song), load_sample("oggenc_q0.ogg"));
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

TEST_F(PackCli, UsageErrorsExitWithTwo) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"--bogus", "a"}, {"-s", "4", "a"}, {"-s"}}) {
        const ProgramRun run = pack(args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.output, "");
    }
    EXPECT_EQ(file_count(), 0u);
}

#ifndef _WIN32
// The words, each quoted, with standard error sent to `errors`.
std::string shell_command(const std::vector<std::string>& words, const std::string& errors) {
    std::string command;
    for (const std::string& word : words) {
        command.append(1, '\'');
        command.append(word);
        command.append("' ");
    }
    command.append("2> ");
    command.append(errors);
    return command;
}

TEST_F(PackCli, VerboseReportNamesEveryStreamAndHowItWasStored) {
    const std::string in = copy_sample("repeated3.ogg");
    const std::string report = path("report.txt");
    ASSERT_EQ(std::system(shell_command({program_path("talvo-pack"), "-v", in}, report).c_str()), 0);
    std::ifstream file(report);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_NE(text.find("Vorbis stream 00000065: modelled"), std::string::npos) << text;
    EXPECT_NE(text.find("Vorbis stream 00000066: repeated"), std::string::npos) << text;
    EXPECT_NE(text.find("Vorbis stream 00000067: repeated"), std::string::npos) << text;

    ASSERT_EQ(std::system(shell_command({program_path("talvo-pack"), "-q", "-f", in}, report).c_str()), 0);
    EXPECT_EQ(fs::file_size(report), 0u);
}
#endif

} // namespace
