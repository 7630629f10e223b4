// A fixed check of the packer's output: committed archives that talvo-pack made, with its default
// settings, of committed Ogg files (real encoder output with and without one-byte packets, a chain with
// a repeated stream and a header copy, a file cut short). Packing each file again must give the very
// same bytes: a change to the model, the coder or the packer's choices shows up here, also one that
// packer and unpacker share and round trips cannot see.

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
    // What a plain `talvo-pack FILE` asks for: the settings search and the verification.
    PackOptions defaults;
    defaults.choose_settings = true;
    for (const ArchivePair& pair : pairs) {
        SCOPED_TRACE(pair.name);
        const std::vector<uint8_t> ogg = read_data_file(pair.ogg);
        ASSERT_FALSE(ogg.empty());
        const PackResult result = pack_file(ogg.data(), ogg.size(), defaults);
        ASSERT_EQ(result.status, PackStatus::Ok);
        EXPECT_EQ(first_mismatch(result.archive, read_data_file(pair.archive)), SIZE_MAX)
            << "first difference at this byte";
    }
}

} // namespace
