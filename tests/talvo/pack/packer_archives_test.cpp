// A fixed check of the packer's output: committed archives that talvo-pack made, with its default
// settings, of committed Ogg files (real encoder output with and without one-byte packets, a chain with
// a repeated stream and a header copy, a file cut short). Packing each file again must give the very
// same bytes: a change to the model, the coder or the packer's choices shows up here, also one that
// packer and unpacker share and round trips cannot see.

#include "archive/archive_extension.h"
#include "pack/packer.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// NAME.talvo in packer-archives is made of NAME.ogg there or in one of the other data directories; the
// archives in one-byte-packets are our packer's too.
std::vector<ArchivePair> committed_archives() {
    std::vector<ArchivePair> pairs;
    const auto dir = test_data_dir("packer-archives");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().extension() != ".talvo") continue;
        const std::string name = entry.path().stem().string();
        for (const char* home : {"packer-archives", "conformance", "one-byte-packets"}) {
            const auto ogg = test_data_dir(home) / (name + ".ogg");
            if (std::filesystem::exists(ogg)) {
                pairs.push_back({name, ogg, entry.path()});
                break;
            }
        }
    }
    for (const ArchivePair& pair : archive_pairs(test_data_dir("one-byte-packets")))
        pairs.push_back(pair);
    return pairs;
}

TEST(PackerArchives, PackingTheCommittedFilesGivesTheCommittedArchives) {
    const auto pairs = committed_archives();
    ASSERT_EQ(pairs.size(), 14u) << "files missing in " << test_data_dir("packer-archives").string();
    // What a plain `talvo-pack FILE` asks for: the settings search, the verification and the checksum;
    // and the same with --no-check.
    PackOptions defaults;
    defaults.choose_settings = true;
    defaults.checksum = true;
    PackOptions no_check = defaults;
    no_check.checksum = false;
    for (const ArchivePair& pair : pairs) {
        SCOPED_TRACE(pair.name);
        const std::vector<uint8_t> ogg = read_data_file(pair.ogg);
        ASSERT_FALSE(ogg.empty());
        const std::vector<uint8_t> committed = read_data_file(pair.archive);
        const PackResult bare = pack_file(ogg.data(), ogg.size(), no_check);
        ASSERT_EQ(bare.status, PackStatus::Ok);
        EXPECT_EQ(first_mismatch(bare.archive, committed), SIZE_MAX) << "first difference at this byte";

        const PackResult checked = pack_file(ogg.data(), ogg.size(), defaults);
        ASSERT_EQ(checked.status, PackStatus::Ok);
        ASSERT_GT(checked.archive.size(), committed.size() + kExtensionMinSize);
        const std::vector<uint8_t> prefix(
            checked.archive.begin(), checked.archive.begin() + static_cast<std::ptrdiff_t>(committed.size()));
        EXPECT_EQ(first_mismatch(prefix, committed), SIZE_MAX) << "first difference at this byte";
        // What follows the end marker is exactly one frame, for a member of the committed archive's
        // length, with the input's length and checksum.
        ExtensionFrame frame;
        ASSERT_TRUE(parse_extension(checked.archive.data() + committed.size(),
                                    checked.archive.size() - committed.size(), frame));
        EXPECT_EQ(frame.member_length, committed.size());
        ContentDigest digest;
        ASSERT_TRUE(find_content(frame, digest));
        EXPECT_EQ(digest.length, ogg.size());
        EXPECT_EQ(digest.checksum, content_checksum(ogg.data(), ogg.size()));
    }
}

} // namespace
