// The copy loop on its own, where a test can hand it a source that is shorter than the length it was
// measured at: the situation of a source that shrinks while it is being copied.
#include "chunk_copy.h"
#include "file_stream.h"
#include "random_bytes.h"
#include "scratch_dir.h"
#include "splice_error.h"
#include "splice_files.h"

#include <gtest/gtest.h>

namespace splice_test {
namespace {

constexpr std::size_t MiB = 1 << 20;

using splice_tool::copy_chunks;
using splice_tool::CopyOrder;
using splice_tool::FileStream;

struct OpenPair {
    FileStream source;
    FileStream target;
};

OpenPair open_pair(const Path& source, const Path& target) {
    int error = 0;
    OpenPair pair{splice_tool::open_for_reading(source, error), splice_tool::open_for_update(target, error)};
    EXPECT_TRUE(pair.source && pair.target);
    return pair;
}

class ShrinkingSourceTest : public ::testing::TestWithParam<std::size_t> {
  protected:
    ScratchDir scratch_;
};

// Only whole chunks that were read in full reach the target; nothing after the shortfall is written.
TEST_P(ShrinkingSourceTest, StopsAtTheShortChunkWithoutWritingStaleBytes) {
    const std::size_t actual = GetParam();
    const std::size_t claimed = 3 * MiB + 100;
    const std::size_t offset = 0x1234;
    const Bytes target = random_bytes(4 * MiB, 41, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(actual, 42, ByteGenerator::Xorshift);
    write_file(scratch_.path() / "target", target);
    write_file(scratch_.path() / "source", source);

    for (const auto order : {CopyOrder::front_to_back, CopyOrder::back_to_front}) {
        SCOPED_TRACE(static_cast<int>(order));
        write_file(scratch_.path() / "target", target);
        {
            OpenPair files = open_pair(scratch_.path() / "source", scratch_.path() / "target");
            try {
                copy_chunks(files.source.get(), files.target.get(), offset, claimed, order);
                ADD_FAILURE() << "a short source was not noticed";
            } catch (const splice_tool::SpliceError& error) {
                EXPECT_EQ(error.code(), splice_tool::ExitCode::failure);
                EXPECT_NE(std::string(error.what()).find("shrank"), std::string::npos) << error.what();
            }
        }
        const Bytes result = read_file(scratch_.path() / "target");
        ASSERT_EQ(result.size(), target.size());
        // Front to back, the chunks before the shortfall were copied; back to front, the first chunk
        // read is the missing tail, so nothing was.
        const std::size_t copied = order == CopyOrder::front_to_back ? actual / MiB * MiB : 0;
        const Bytes head(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(copied));
        EXPECT_EQ(result, overlaid(target, head, offset));
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShrinkingSourceTest,
                         ::testing::Values(0, 100, MiB, MiB + MiB / 2, 3 * MiB));

// Between two different files both orders give the same result.
TEST(ChunkCopyTest, BothOrdersAgreeBetweenDistinctFiles) {
    ScratchDir scratch;
    const Bytes target = random_bytes(MiB / 2, 43, ByteGenerator::Xorshift);
    const Bytes source = random_bytes(2 * MiB + 3, 44, ByteGenerator::Xorshift);
    write_file(scratch.path() / "source", source);
    for (const auto order : {CopyOrder::front_to_back, CopyOrder::back_to_front}) {
        SCOPED_TRACE(static_cast<int>(order));
        write_file(scratch.path() / "target", target);
        {
            OpenPair files = open_pair(scratch.path() / "source", scratch.path() / "target");
            copy_chunks(files.source.get(), files.target.get(), 0x777, source.size(), order);
            EXPECT_EQ(files.target.close(), 0);
        }
        EXPECT_EQ(read_file(scratch.path() / "target"), overlaid(target, source, 0x777));
    }
}

} // namespace
} // namespace splice_test
