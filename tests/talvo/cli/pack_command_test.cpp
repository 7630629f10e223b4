// How talvo-pack reads its command line.

#include "cli/pack_command.h"

#include <gtest/gtest.h>

namespace {

using Action = PackCommand::Action;

TEST(PackCommand, OneInputGoesToInputDotTalvo) {
    const PackCommand c = parse_pack_command({"song.ogg"});
    ASSERT_EQ(c.action, Action::Pack);
    ASSERT_EQ(c.jobs.size(), 1u);
    EXPECT_EQ(c.jobs[0].input, "song.ogg");
    EXPECT_EQ(c.jobs[0].output, "song.ogg.talvo");
    EXPECT_TRUE(c.options.verify);
    EXPECT_TRUE(c.options.choose_settings);
    EXPECT_EQ(c.options.slot_selector, -1) << "every slot count is tried";
    EXPECT_EQ(c.options.carry_over, -1) << "both carry-over settings are tried";
}

TEST(PackCommand, ASecondOperandNamesTheArchiveOnlyWhenItEndsInDotTalvo) {
    PackCommand c = parse_pack_command({"song.ogg", "out.TALVO"});
    ASSERT_EQ(c.jobs.size(), 1u);
    EXPECT_EQ(c.jobs[0].output, "out.TALVO");
    // Any other second operand is one more input: never an output that was not named as one.
    for (const char* second : {"C.wav", "D.webm", "b.OGA", "out.tlv", "x.talvo.bak", ".talvo"}) {
        c = parse_pack_command({"a.ogg", second});
        ASSERT_EQ(c.jobs.size(), 2u) << second;
        EXPECT_EQ(c.jobs[0].output, "a.ogg.talvo") << second;
        EXPECT_EQ(c.jobs[1].input, second);
        EXPECT_EQ(c.jobs[1].output, std::string(second) + ".talvo");
    }
    c = parse_pack_command({"a.talvo", "b.talvo"});
    ASSERT_EQ(c.jobs.size(), 2u) << "two archives are two inputs (each left alone when packing)";
    c = parse_pack_command({"-o", "C.wav", "a.ogg"});
    ASSERT_EQ(c.jobs.size(), 1u);
    EXPECT_EQ(c.jobs[0].output, "C.wav") << "-o names any output";
    c = parse_pack_command({"a", "b", "c"});
    ASSERT_EQ(c.jobs.size(), 3u);
    EXPECT_EQ(c.jobs[2].output, "c.talvo");
    // -o with several inputs: one bundle of them all.
    c = parse_pack_command({"-o", "all.talvo", "a.ogg", "b.ogg"});
    ASSERT_EQ(c.jobs.size(), 1u);
    EXPECT_EQ(c.jobs[0].output, "all.talvo");
    EXPECT_EQ(c.bundle_inputs, std::vector<std::string>({"a.ogg", "b.ogg"}));
    EXPECT_TRUE(parse_pack_command({"-o", "C.wav", "a.ogg"}).bundle_inputs.empty()) << "one file: no bundle";
    c = parse_pack_command({"-d", "-C", "out", "--directory=there", "all.talvo"});
    EXPECT_EQ(c.directory, "there");
    c = parse_pack_command({"--", "-f", "x.talvo"});
    ASSERT_EQ(c.jobs.size(), 1u);
    EXPECT_EQ(c.jobs[0].input, "-f");
    EXPECT_FALSE(c.force);
}

TEST(PackCommand, Flags) {
    const PackCommand c = parse_pack_command({"-f", "-v", "--no-verify", "x"});
    EXPECT_TRUE(c.force);
    EXPECT_TRUE(c.verbose);
    EXPECT_FALSE(c.quiet);
    EXPECT_FALSE(c.options.verify);
    EXPECT_FALSE(c.remove_inputs);
    EXPECT_TRUE(parse_pack_command({"--rm", "x"}).remove_inputs);
    EXPECT_TRUE(parse_pack_command({"-d", "--rm", "x.talvo"}).remove_inputs);
    EXPECT_FALSE(parse_pack_command({"--rm", "-k", "x"}).remove_inputs) << "the last one counts";
    EXPECT_EQ(parse_pack_command({"--keep", "x"}).action, Action::Pack);
    // --rm only where an output is written to a file and checked first.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--rm", "-c", "x"}, {"--rm", "--no-verify", "x"}, {"--rm", "-t", "x"}, {"--rm", "-l", "x"}})
        EXPECT_EQ(parse_pack_command(args).action, Action::Usage) << args[1];
    EXPECT_TRUE(parse_pack_command({"-v", "-q", "x"}).quiet);
    EXPECT_FALSE(parse_pack_command({"-v", "-q", "x"}).verbose);
}

TEST(PackCommand, SettingsAreForcedOnlyWhenBothAreGiven) {
    PackCommand c = parse_pack_command({"-s", "2", "--carry", "x"});
    EXPECT_FALSE(c.options.choose_settings);
    EXPECT_EQ(c.options.flags, 0x0A);
    c = parse_pack_command({"-s3", "--no-carry", "x"});
    EXPECT_FALSE(c.options.choose_settings);
    EXPECT_EQ(c.options.flags, 0x03);
    c = parse_pack_command({"--slots=1", "x"});
    EXPECT_TRUE(c.options.choose_settings);
    EXPECT_EQ(c.options.slot_selector, 1);
    EXPECT_EQ(c.options.carry_over, -1);
    c = parse_pack_command({"--carry", "x"});
    EXPECT_TRUE(c.options.choose_settings);
    EXPECT_EQ(c.options.slot_selector, -1);
    EXPECT_EQ(c.options.carry_over, 1);
}

TEST(PackCommand, ThreadCount) {
    EXPECT_EQ(parse_pack_command({"x"}).workers, 0);
    EXPECT_EQ(parse_pack_command({"-j", "3", "x"}).workers, 3);
    EXPECT_EQ(parse_pack_command({"-j12", "x"}).workers, 12);
    EXPECT_EQ(parse_pack_command({"--threads=1", "x"}).workers, 1);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-j", "x"}, {"-j0", "x"}, {"-j", "-2", "x"}, {"-j5000", "x"}, {"-j2a", "x"}, {"-j"}}) {
        const PackCommand c = parse_pack_command(args);
        EXPECT_EQ(c.action, Action::Usage) << args[0] << (args.size() > 1 ? " " + args[1] : "");
    }
}

TEST(PackCommand, UsageErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"-x", "a"}, {"-s"}, {"-s", "4", "a"}, {"-s", "-1", "a"}, {"-s12", "a"}, {"-f"}}) {
        const PackCommand c = parse_pack_command(args);
        EXPECT_EQ(c.action, Action::Usage) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(c.error.empty());
    }
    EXPECT_EQ(parse_pack_command({"-h", "-x"}).action, Action::Help);
    EXPECT_EQ(parse_pack_command({"--version"}).action, Action::Version);
    EXPECT_EQ(parse_pack_command({"-V"}).action, Action::Version);
}

TEST(PackCommand, RestoringNamesEachOutputAfterItsArchive) {
    PackCommand c = parse_pack_command({"-d", "a.ogg.talvo", "dir/B.TALVO", "c.bin", "-"});
    EXPECT_EQ(c.mode, FileMode::Restore);
    ASSERT_EQ(c.jobs.size(), 4u);
    EXPECT_EQ(c.jobs[0].output, "a.ogg");
    EXPECT_EQ(c.jobs[1].output, "dir/B");
    EXPECT_EQ(c.jobs[2].output, "") << "no name to take: the job reports it";
    EXPECT_EQ(c.jobs[3].output, "-") << "from standard input to standard output";
    c = parse_pack_command({"-dco", "x.ogg", "a.talvo"});
    ASSERT_EQ(c.jobs.size(), 1u);
    EXPECT_EQ(c.jobs[0].output, "x.ogg") << "-o names the output even beside -c";
    c = parse_pack_command({"-dc", "a.talvo", "b.talvo"});
    EXPECT_EQ(c.jobs[1].output, "-");
    EXPECT_EQ(parse_pack_command({"a.talvo"}, true).mode, FileMode::Restore) << "talvo-unpack";
    EXPECT_EQ(parse_pack_command({"-d"}, false, true).jobs.at(0).input, "-") << "an archive piped in";
    c = parse_pack_command({"-q"}, false, true);
    ASSERT_EQ(c.jobs.size(), 1u) << "a piped input is packed, as gzip does";
    EXPECT_EQ(c.jobs[0].input, "-");
    EXPECT_EQ(c.jobs[0].output, "-");
    EXPECT_EQ(parse_pack_command({}, false, false).action, Action::Usage) << "not from a terminal";
}

TEST(PackCommand, BundledShortOptionsAndModes) {
    PackCommand c = parse_pack_command({"-dfvj2", "a.talvo"});
    EXPECT_EQ(c.mode, FileMode::Restore);
    EXPECT_TRUE(c.force);
    EXPECT_TRUE(c.verbose);
    EXPECT_EQ(c.workers, 2);
    EXPECT_EQ(parse_pack_command({"-t", "-d", "a"}).mode, FileMode::Test) << "-d beside -t still only tests";
    EXPECT_EQ(parse_pack_command({"--list", "a"}).mode, FileMode::List);
    EXPECT_EQ(parse_pack_command({"-dz", "a"}).action, Action::Usage);
    EXPECT_EQ(parse_pack_command({"-l", "-o", "x", "a"}).action, Action::Usage);
}

TEST(PackCommand, PackingToStandardOutputTakesOneInput) {
    PackCommand c = parse_pack_command({"-c", "song.ogg"});
    ASSERT_EQ(c.jobs.size(), 1u);
    EXPECT_EQ(c.jobs[0].output, "-");
    EXPECT_EQ(parse_pack_command({"-c", "a.ogg", "b.ogg"}).action, Action::Usage);
    EXPECT_EQ(parse_pack_command({"-c", "a.ogg", "out.talvo"}).action, Action::Usage);
    c = parse_pack_command({"-", "x.ogg"});
    EXPECT_EQ(c.jobs[0].output, "-") << "standard input packs to standard output";
    c = parse_pack_command({"-o", "x.talvo", "song.ogg"});
    EXPECT_EQ(c.jobs[0].output, "x.talvo");
}

} // namespace
