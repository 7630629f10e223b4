#include "ogg_test_files.h"
#include "page_rig.h"

#include <gtest/gtest.h>

namespace {

TEST(OggFilesTest, EveryPageHeaderAndLacingTableRoundTrips) {
    const auto& files = test_ogg_files();
    if (files.empty()) GTEST_SKIP() << "oggenc and ffmpeg are not available";
    EXPECT_GE(files.size(), 8u);
    for (const TestOggFile& file : files) {
        SCOPED_TRACE(file.name);
        std::vector<OggPage> pages;
        ASSERT_EQ(split_ogg_pages(file.bytes.data(), file.bytes.size(), pages), file.bytes.size());
        const auto streams = group_pages_by_serial(pages);
        // Models and stores carry over from stream to stream as in a real run; each stream restarts
        // its page context.
        PageRig packer, unpacker;
        std::vector<uint8_t> restored;
        for (const auto& stream : streams) {
            reset_models(*packer.models, 7);
            reset_models(*unpacker.models, 7);
            StreamLinks pl;
            pl.models = packer.models.get();
            pl.packet_probs = packer.probs.data();
            pl.header_store = &packer.header_store;
            pl.stream_store = &packer.stream_store;
            StreamLinks ul;
            ul.models = unpacker.models.get();
            ul.packet_probs = unpacker.probs.data();
            ul.header_store = &unpacker.header_store;
            ul.stream_store = &unpacker.stream_store;
            init_stream_context(packer.ctx, pl);
            init_stream_context(unpacker.ctx, ul);
            const PackedStream packed = pack_pages(packer, stream, true);
            EXPECT_FALSE(packed.inexpressible);
            EXPECT_TRUE(packed.complete);
            EXPECT_EQ(packed.pages_left, 0);
            bool complete = false;
            const auto out = unpack_pages(unpacker, packed.archive, concat_payloads(stream), true, &complete);
            EXPECT_TRUE(complete);
            restored.insert(restored.end(), out.begin(), out.end());
            // Both stores hold the stream with zero CRC fields, identically.
            ASSERT_EQ(store_size(packer.stream_store), store_size(unpacker.stream_store));
            EXPECT_EQ(std::memcmp(packer.stream_store.buffer, unpacker.stream_store.buffer,
                                  static_cast<size_t>(store_size(packer.stream_store))),
                      0);
        }
        ASSERT_EQ(restored.size(), file.bytes.size());
        EXPECT_TRUE(restored == file.bytes);
    }
}

TEST(OggFilesTest, OneBytePacketsOccur) {
    // The silent passage must give the page layer its one-byte packets (a byte entered past the packet).
    const auto& files = test_ogg_files();
    if (files.empty()) GTEST_SKIP() << "oggenc and ffmpeg are not available";
    std::vector<OggPage> pages;
    split_ogg_pages(files[0].bytes.data(), files[0].bytes.size(), pages);
    int one_byte = 0;
    for (const OggPage& page : pages) {
        const uint8_t* lacing = page.data + 27;
        for (int i = 0; i < page.data[26]; ++i)
            one_byte += lacing[i] == 1 && (i == 0 ? !(page.data[5] & 1) : lacing[i - 1] < 255);
    }
    EXPECT_GT(one_byte, 10);
}

} // namespace
