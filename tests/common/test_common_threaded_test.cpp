#include "process_runner.h"
#include "random_bytes.h"
#include "scratch_dir.h"
#include "windows_command_line.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace {

const std::filesystem::path& probe() {
    static const std::filesystem::path path = built_program("test_common_probe");
    return path;
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every argument reaches the child as it was given, whatever it holds: under wine this goes through the
// UTF-16 command line and the child's own parser.
TEST(ProcessRunner, ArgumentsArriveUnchanged) {
    const std::vector<std::string> arguments = {"plain",
                                                "",
                                                "two words",
                                                "tab\there",
                                                "quote\"inside",
                                                "\"",
                                                "trailing\\",
                                                "trailing space\\ ",
                                                "back\\\\slashes\\\"quote",
                                                "\\\\server\\share\\",
                                                "ends with space ",
                                                "$HOME %PATH% *?[] 'single' `tick` ; & | < >",
                                                "na\xC3\xAFve \xE2\x98\x83 \xF0\x9D\x84\x9E",
                                                "-"};
    const ProcessRun run = run_process(probe(), [&] {
        std::vector<std::string> all = {"args"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return all;
    }());
    ASSERT_TRUE(run.started) << run.start_error;
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::string expected;
    for (const std::string& argument : arguments)
        expected += std::to_string(argument.size()) + ":" + argument + "\n";
    EXPECT_EQ(console_text(run.out), expected);
}

TEST(ProcessRunner, QuotingFollowsTheParsersBackslashRules) {
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"plain", L"plain"},           {L"", L"\"\""},     {L"a b", L"\"a b\""},
        {L"a\"b", L"\"a\\\"b\""},       {L"a\\b", L"a\\b"}, // backslashes not before a quote are literal
        {L"a b\\", L"\"a b\\\\\""},                         // before the closing quote they are doubled
        {L"a\\\"b", L"\"a\\\\\\\"b\""}, // before a quote: doubled, and one more for the quote
    };
    for (const auto& [argument, quoted] : cases)
        EXPECT_EQ(quote_windows_argument(argument), quoted);
    EXPECT_EQ(windows_command_line(L"C:\\a b\\p.exe", {L"x", L"y z"}), L"\"C:\\a b\\p.exe\" x \"y z\"");
}

TEST(ProcessRunner, ExitStatusAndBothStreams) {
    for (const int code : {0, 1, 3, 125}) {
        const ProcessRun run = run_process(probe(), {"exit", std::to_string(code)});
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_EQ(run.exit_code, code);
        EXPECT_EQ(run.signal, 0);
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.out, "out");
        EXPECT_EQ(run.err, "err");
    }
}

TEST(ProcessRunner, StandardInputFromEverySource) {
    // More than any pipe holds, both ways at once: neither side may wait for the other.
    std::vector<uint8_t> bytes = random_bytes(3 << 20, 1);
    const std::string data(bytes.begin(), bytes.end());
    ScratchDir dir;
    { std::ofstream(dir / "in.bin", std::ios::binary) << data; }
    ProcessOptions from_bytes;
    from_bytes.input = InputFrom::Memory;
    from_bytes.stdin_bytes = data;
    ProcessOptions from_file;
    from_file.input = InputFrom::File;
    from_file.stdin_file = dir / "in.bin";
    for (const ProcessOptions& options : {from_bytes, from_file}) {
        const ProcessRun run = run_process(probe(), {"cat"}, options);
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_TRUE(run.out == data) << run.out.size() << " bytes of " << data.size();
        EXPECT_EQ(run.err, "done");
    }
    const ProcessRun empty = run_process(probe(), {"cat"});
    EXPECT_EQ(empty.out, "") << "the null device by default";
    EXPECT_EQ(empty.exit_code, 0);
}

TEST(ProcessRunner, InputWrittenWhileTheChildRuns) {
    ProcessOptions options;
    options.input = InputFrom::Pipe;
    ChildHandle child = start_process(probe(), {"cat"}, options);
    ASSERT_TRUE(write_to_child(*child, "first ", 6));
    ASSERT_TRUE(write_to_child(*child, "second", 6));
    close_child_input(*child);
    const ProcessRun run = wait_process(*child);
    ASSERT_TRUE(run.started) << run.start_error;
    EXPECT_EQ(run.out, "first second");
}

TEST(ProcessRunner, OutputToFilesAndTheNullDevice) {
    ScratchDir dir;
    ProcessOptions options;
    options.output = OutputTo::File;
    options.stdout_file = dir / "out.txt";
    options.errors = OutputTo::NullDevice;
    const ProcessRun run = run_process(probe(), {"exit", "4"}, options);
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(file_text(dir / "out.txt"), "out");
}

TEST(ProcessRunner, AChildThatCannotStartSaysWhy) {
    ScratchDir dir;
    const ProcessRun run = run_process(dir / "no-such-program", {"x"});
    EXPECT_FALSE(run.started);
    EXPECT_NE(run.start_error.find("no-such-program"), std::string::npos) << run.start_error;
    EXPECT_NE(run.start_error.find("error"), std::string::npos) << run.start_error;
}

TEST(ProcessRunner, AChildPastItsTimeIsEnded) {
    ProcessOptions options;
    options.timeout_seconds = 0.5;
    const ProcessRun run = run_process(probe(), {"sleep", "60"}, options);
    ASSERT_TRUE(run.started) << run.start_error;
    EXPECT_TRUE(run.timed_out);
    EXPECT_NE(run.exit_code, 0);
    // A child that ends in time is not marked, however slowly a loaded machine (or wine) starts it.
    options.timeout_seconds = 60;
    const ProcessRun quick = run_process(probe(), {"sleep", "0"}, options);
    EXPECT_FALSE(quick.timed_out);
    EXPECT_EQ(quick.exit_code, 0);
}

#ifndef _WIN32
// (Not SIGSEGV: a sanitizer in the probe turns that into an exit status.)
TEST(ProcessRunner, TheSignalThatEndedTheChild) {
    for (const int signal_number : {SIGTERM, SIGKILL, SIGPIPE}) {
        const ProcessRun run = run_process(probe(), {"signal", std::to_string(signal_number)});
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_EQ(run.signal, signal_number);
        EXPECT_EQ(run.exit_code, 128 + signal_number);
    }
    ProcessOptions options;
    options.input = InputFrom::Pipe;
    ChildHandle child = start_process(probe(), {"cat"}, options);
    ASSERT_TRUE(signal_child(*child, SIGINT));
    EXPECT_EQ(wait_process(*child).signal, SIGINT);
}

TEST(ProcessRunner, ProgramsAreFoundThroughPath) {
    const std::filesystem::path sh = program_on_path("sh");
    ASSERT_FALSE(sh.empty());
    EXPECT_TRUE(sh.is_absolute());
    EXPECT_EQ(run_process(sh, {"-c", "exit 7"}).exit_code, 7);
    EXPECT_TRUE(program_on_path("no-such-program-anywhere").empty());
}
#endif

TEST(ScratchDirTest, UniqueAndRemovedWithEverythingInIt) {
    std::filesystem::path first, second;
    {
        ScratchDir a, b;
        first = a.path();
        second = b.path();
        EXPECT_NE(first, second);
        EXPECT_TRUE(std::filesystem::is_directory(first));
        EXPECT_EQ(first.parent_path(), (std::filesystem::temp_directory_path() / "").parent_path());
        std::filesystem::create_directories(a / "deep" / "er");
        std::ofstream(a / "deep" / "er" / "file.bin") << "x";
        std::ofstream(utf8_path(a.file("na\xC3\xAFve \xE2\x98\x83"))) << "y";
        EXPECT_EQ(file_text(utf8_path(a.file("na\xC3\xAFve \xE2\x98\x83"))), "y");
    }
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_FALSE(std::filesystem::exists(second));
}

#ifndef _WIN32
TEST(ScratchDirTest, OnlyOldDirectoriesOfEndedProgramsAreSwept) {
    const ScratchDir base;
    const auto two_hours_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(2);
    const std::string ended = "2147483646"; // above any process id the kernel gives
    const std::string alive = std::to_string(current_process_id());
    struct Case {
        std::string name;
        bool old;
        bool swept;
    };
    const std::vector<Case> cases = {
        {"a.scratch-" + ended + "-0-1", true, true},  {"b.scratch-" + ended + "-0-1", false, false},
        {"c.scratch-" + alive + "-0-1", true, false}, {"d.scratch-x-0-1", true, false},
        {"e-" + ended + "-0-1", true, false},
    };
    for (const Case& c : cases) {
        std::filesystem::create_directories(base / c.name / "inside");
        if (c.old) std::filesystem::last_write_time(base / c.name, two_hours_ago);
    }
    remove_orphaned_scratch_dirs(base.path());
    for (const Case& c : cases)
        EXPECT_EQ(std::filesystem::exists(base / c.name), !c.swept) << c.name;
}
#endif

// The tests' inputs, and so what they check, rest on these sequences.
TEST(RandomBytes, EachGeneratorGivesItsOwnFixedSequence) {
    EXPECT_EQ(random_bytes(8, 7), (std::vector<uint8_t>{0xAF, 0xC4, 0x19, 0xF6, 0x43, 0xD3, 0x97, 0x67}));
    EXPECT_EQ(random_bytes(8, 7, ByteGenerator::Xorshift),
              (std::vector<uint8_t>{0x89, 0x55, 0xA5, 0xB2, 0x56, 0xED, 0x11, 0xFE}));
    EXPECT_EQ(random_bytes(100, 3), random_bytes(100, 3));
    EXPECT_NE(random_bytes(100, 3), random_bytes(100, 4));
    EXPECT_TRUE(random_bytes(0, 3).empty());
}

} // namespace
