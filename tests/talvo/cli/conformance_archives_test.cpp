// Archives that a separate implementation of the format made of real encoder output: talvo must restore
// each of them byte for byte. Our own round trips cannot catch a misreading that packer and unpacker
// share; these can.

#include "talvo_restore.h"
#include "test_data.h"

#include <gtest/gtest.h>

namespace {

const std::string kBanner = "TALVO v0.1.1\n";

TEST(ConformanceArchives, EveryArchiveRestoresByteForByte) {
    const auto pairs = archive_pairs(test_data_dir("conformance"));
    ASSERT_EQ(pairs.size(), 14u) << "conformance archives missing in "
                                 << test_data_dir("conformance").string();
    for (const ArchivePair& pair : pairs) {
        SCOPED_TRACE(pair.name);
        const std::vector<uint8_t> expected = read_data_file(pair.ogg);
        ASSERT_FALSE(expected.empty());
        const ProgramRestore restore = restore_with_talvo(pair.archive);
        ASSERT_TRUE(restore.run.started) << restore.run.start_error;
        EXPECT_EQ(restore.run.exit_code, 0);
        EXPECT_EQ(restore.run.out, kBanner);
        EXPECT_EQ(restore.restored.size(), expected.size());
        EXPECT_EQ(first_mismatch(restore.restored, expected), SIZE_MAX) << "first difference at this byte";
    }
}

} // namespace
