#include "archive/archive_reader.h"
#include "random_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

namespace {

// A reader over memory that is stopped however the test ends.
struct MemoryReader {
    ArchiveReader reader;
    explicit MemoryReader(const std::vector<uint8_t>& bytes) {
        EXPECT_TRUE(reader_start_memory(reader, bytes.data(), bytes.size()));
    }
    ~MemoryReader() { reader_stop(reader); }
};

// The same bytes through a file, where a reader thread fills the ring.
struct FileReader {
    ArchiveReader reader;
    FILE* file = std::tmpfile();
    explicit FileReader(const std::vector<uint8_t>& bytes) {
        EXPECT_NE(file, nullptr);
        if (!file) return;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        std::rewind(file);
        EXPECT_TRUE(reader_start_file(reader, file));
    }
    ~FileReader() {
        reader_stop(reader);
        if (file) std::fclose(file);
    }
};

// The same bytes from a source that hands them over as they are asked for, as the packer's pass hands
// its items to the verification beside it; it records the largest request, which is what the reader
// would wait for.
struct SourceReader {
    ArchiveReader reader;
    const std::vector<uint8_t>& bytes;
    size_t given = 0;
    int32_t largest_request = 0;
    ByteSource source{this, [](void*) { return false; }, give};

    static int32_t give(void* context, uint8_t* dst, int32_t n) {
        auto& self = *static_cast<SourceReader*>(context);
        self.largest_request = std::max(self.largest_request, n);
        const size_t count = std::min(static_cast<size_t>(n), self.bytes.size() - self.given);
        std::copy_n(self.bytes.begin() + static_cast<std::ptrdiff_t>(self.given), count, dst);
        self.given += count;
        return static_cast<int32_t>(count);
    }
    explicit SourceReader(const std::vector<uint8_t>& from) : bytes(from) {
        EXPECT_TRUE(reader_start_source(reader, &source));
    }
    ~SourceReader() { reader_stop(reader); }
};

// Bytes and runs of random lengths, across slot boundaries, compared with the source.
void walk_and_compare(ArchiveReader& reader, const std::vector<uint8_t>& source) {
    std::mt19937 rng(7);
    std::vector<uint8_t> got;
    std::vector<uint8_t> chunk;
    while (got.size() < source.size()) {
        if (rng() % 4 == 0) {
            const int32_t b = read_byte(reader);
            ASSERT_GE(b, 0);
            got.push_back(static_cast<uint8_t>(b));
        } else {
            const int32_t n = static_cast<int32_t>(rng() % 300000);
            chunk.assign(static_cast<size_t>(n), 0);
            const int32_t copied = read_bytes(reader, chunk.data(), n);
            got.insert(got.end(), chunk.begin(), chunk.begin() + copied);
            if (copied < n) {
                EXPECT_TRUE(reader_is_exhausted(reader));
                break;
            }
        }
        ASSERT_EQ(reader_position(reader), static_cast<int32_t>(got.size()));
    }
    EXPECT_EQ(got, source);
}

TEST(ArchiveReaderReads, BytesAndRunsAcrossSlotBoundariesComeBackInOrder) {
    const auto source = random_bytes(3 * kReaderSlotSize + 12345, 1);
    {
        MemoryReader m(source);
        EXPECT_EQ(m.reader.handles, nullptr) << "bytes in memory need no reader thread";
        walk_and_compare(m.reader, source);
    }
    {
        FileReader f(source);
        EXPECT_NE(f.reader.handles, nullptr);
        walk_and_compare(f.reader, source);
    }
    SourceReader b(source);
    EXPECT_EQ(b.reader.handles, nullptr) << "a source is read on the reading thread";
    walk_and_compare(b.reader, source);
    EXPECT_EQ(b.largest_request, kSourceSlotSize) << "a source is never asked for more than a small slot";
}

TEST(ArchiveReaderReads, AFileOfLessThanOneSlotIsReadWithoutAThread) {
    for (const size_t size : {size_t{0}, size_t{1}, static_cast<size_t>(kReaderSlotSize) - 1}) {
        const auto source = random_bytes(size, 4);
        FileReader f(source);
        EXPECT_EQ(f.reader.handles, nullptr) << size;
        walk_and_compare(f.reader, source);
        EXPECT_EQ(read_byte(f.reader), -1) << size;
        EXPECT_TRUE(reader_is_exhausted(f.reader));
    }
    const auto source = random_bytes(kReaderSlotSize, 5);
    FileReader f(source);
    EXPECT_NE(f.reader.handles, nullptr) << "a whole slot or more is read ahead";
    walk_and_compare(f.reader, source);
}

TEST(ArchiveReaderReads, FileSourceDeliversTheSameBytes) {
    const auto source = random_bytes(2 * kReaderSlotSize + 77, 2);
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(source.data(), 1, source.size(), file), source.size());
    std::rewind(file);
    ArchiveReader reader;
    ASSERT_TRUE(reader_start_file(reader, file));
    std::vector<uint8_t> got(source.size() + 10);
    EXPECT_EQ(read_bytes(reader, got.data(), static_cast<int32_t>(got.size())),
              static_cast<int32_t>(source.size()));
    got.resize(source.size());
    EXPECT_EQ(got, source);
    EXPECT_TRUE(reader_is_exhausted(reader));
    reader_stop(reader);
    std::fclose(file);
}

// Walks the input in page-sized steps; before every step it peeks `pages` pages ahead and returns.
void peek_and_step_back(ArchiveReader& reader, const std::vector<uint8_t>& source, int pages) {
    std::vector<uint8_t> page(65307);
    int32_t expected = 0;
    while (expected + pages * static_cast<int32_t>(page.size()) < static_cast<int32_t>(source.size())) {
        const int32_t saved = reader_position(reader);
        ASSERT_EQ(saved, expected);
        for (int k = 0; k < pages; ++k) {
            ASSERT_EQ(read_bytes(reader, page.data(), static_cast<int32_t>(page.size())),
                      static_cast<int32_t>(page.size()));
        }
        reader_set_position(reader, saved);
        ASSERT_EQ(reader_position(reader), saved);
        ASSERT_EQ(read_byte(reader), source[static_cast<size_t>(saved)]) << "at " << saved;
        ASSERT_EQ(read_bytes(reader, page.data(), static_cast<int32_t>(page.size()) - 1),
                  static_cast<int32_t>(page.size()) - 1);
        ASSERT_TRUE(std::equal(page.begin(), page.end() - 1, source.begin() + saved + 1));
        expected += static_cast<int32_t>(page.size());
    }
}

TEST(ArchiveReaderReads, PageReadAheadAndStepBackAcrossABoundaryRestoresPosition) {
    const auto source = random_bytes(5 * kReaderSlotSize, 3);
    {
        MemoryReader m(source);
        peek_and_step_back(m.reader, source, 2);
    }
    // A source's slot holds one page, the most a step back ever takes.
    SourceReader b(source);
    peek_and_step_back(b.reader, source, 1);
}

TEST(ArchiveReaderReads, StepBackOfMoreThanOneSlotIsRefused) {
    const auto source = random_bytes(4 * kReaderSlotSize, 4);
    MemoryReader m(source);
    std::vector<uint8_t> sink(static_cast<size_t>(kReaderSlotSize) * 2 + 10);
    ASSERT_EQ(read_bytes(m.reader, sink.data(), static_cast<int32_t>(sink.size())),
              static_cast<int32_t>(sink.size()));
    const int32_t before = reader_position(m.reader);
    reader_set_position(m.reader, 0);
    EXPECT_EQ(reader_position(m.reader), before);
    reader_set_position(m.reader, before + 1); // forward is not a step back
    EXPECT_EQ(reader_position(m.reader), before);
    EXPECT_EQ(read_byte(m.reader), source[static_cast<size_t>(before)]);
}

TEST(ArchiveReaderEnd, BodyOfExactlyOneSlotIsExhaustedWhenTheSlotIsUsedUp) {
    const auto source = random_bytes(kReaderSlotSize, 5);
    MemoryReader m(source);
    std::vector<uint8_t> got(source.size());
    EXPECT_EQ(read_bytes(m.reader, got.data(), kReaderSlotSize), kReaderSlotSize);
    EXPECT_EQ(got, source);
    EXPECT_FALSE(reader_is_exhausted(m.reader));
    EXPECT_EQ(read_byte(m.reader), -1);
    EXPECT_TRUE(reader_is_exhausted(m.reader));
    EXPECT_EQ(m.reader.slot_index, 1);
    EXPECT_EQ(m.reader.slot_state[1].load(), kSlotFinal);
    EXPECT_EQ(m.reader.final_length.load(), 0);
}

TEST(ArchiveReaderEnd, AllOneBytesAndTheFixedLengthAfterTheEnd) {
    const std::vector<uint8_t> source = {0xFC, 0xFD, 0xFF, 0x01};
    MemoryReader m(source);
    EXPECT_EQ(read_length(m.reader), 63u);
    EXPECT_EQ(read_length(m.reader), 16383u);
    EXPECT_FALSE(reader_is_exhausted(m.reader));
    EXPECT_EQ(read_byte(m.reader), 0x01);
    EXPECT_EQ(read_byte(m.reader), -1);
    EXPECT_EQ(read_byte(m.reader), -1);
    EXPECT_EQ(read_length(m.reader), 1069531071u);
    uint8_t dst[4] = {9, 9, 9, 9};
    EXPECT_EQ(read_bytes(m.reader, dst, 4), 0);
    EXPECT_EQ(dst[0], 9);
    EXPECT_TRUE(reader_is_exhausted(m.reader));
}

TEST(ArchiveReaderEnd, LookAheadPastTheEndThenStepBackKeepsTheRestReadable) {
    const auto source = random_bytes(kReaderSlotSize + 100, 11);
    MemoryReader m(source);
    std::vector<uint8_t> sink(static_cast<size_t>(kReaderSlotSize) - 20);
    ASSERT_EQ(read_bytes(m.reader, sink.data(), static_cast<int32_t>(sink.size())),
              static_cast<int32_t>(sink.size()));
    const int32_t saved = reader_position(m.reader);
    std::vector<uint8_t> page(1000);
    EXPECT_EQ(read_bytes(m.reader, page.data(), 1000), 120);
    EXPECT_TRUE(reader_is_exhausted(m.reader));
    reader_set_position(m.reader, saved);
    EXPECT_FALSE(reader_is_exhausted(m.reader));
    EXPECT_EQ(read_bytes(m.reader, page.data(), 120), 120);
    EXPECT_TRUE(std::equal(page.begin(), page.begin() + 120, source.end() - 120));
    EXPECT_FALSE(reader_is_exhausted(m.reader));
    EXPECT_EQ(read_byte(m.reader), -1);
    EXPECT_TRUE(reader_is_exhausted(m.reader));
}

TEST(ArchiveReaderEnd, EmptyInputIsExhaustedAtTheFirstRead) {
    const std::vector<uint8_t> source;
    MemoryReader m(source);
    EXPECT_EQ(read_byte(m.reader), -1);
    EXPECT_TRUE(reader_is_exhausted(m.reader));
}

TEST(ArchiveReaderBlocks, BlockIsReadWholeOrNotAtAll) {
    std::vector<uint8_t> source = {0x14}; // length 5
    for (uint8_t b : {1, 2, 3, 4, 5, 6})
        source.push_back(b);
    source.push_back(0x28); // length 10, but only 0 bytes follow
    MemoryReader m(source);
    uint32_t length = 0;
    uint8_t* block = read_block(m.reader, length);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(block[4], 5);
    std::free(block);
    EXPECT_EQ(read_byte(m.reader), 6);
    block = read_block(m.reader, length);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(length, 10u);
    EXPECT_TRUE(reader_is_exhausted(m.reader));
}

TEST(ArchiveReaderBlocks, BogusHugeLengthFailsWithoutClaimingItsSize) {
    std::vector<uint8_t> source = {0xFF, 0xFF, 0xFF, 0xFF}; // 1,073,741,823
    const auto tail = random_bytes(3 * kReaderSlotSize, 6);
    source.insert(source.end(), tail.begin(), tail.end());
    MemoryReader m(source);
    uint32_t length = 0;
    EXPECT_EQ(read_block(m.reader, length), nullptr);
    EXPECT_EQ(length, 1073741823u);
    EXPECT_TRUE(reader_is_exhausted(m.reader));
}

TEST(ArchiveReaderBlocks, EmptyBlockIsABufferNotAFailure) {
    const std::vector<uint8_t> source = {0x00};
    MemoryReader m(source);
    uint32_t length = 99;
    uint8_t* block = read_block(m.reader, length);
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(length, 0u);
    std::free(block);
}

TEST(ArchiveReaderStreams, ByteSourceFeedsAStreamedDecoder) {
    const auto source = random_bytes(100, 8);
    MemoryReader m(source);
    ByteSource& bs = m.reader.byte_source;
    EXPECT_FALSE(bs.is_exhausted(bs.context));
    uint8_t dst[60];
    EXPECT_EQ(bs.read_bytes(bs.context, dst, 60), 60);
    EXPECT_EQ(bs.read_bytes(bs.context, dst, 60), 40);
    EXPECT_TRUE(bs.is_exhausted(bs.context));
}

TEST(ArchiveReaderTeardown, StopWhileTheThreadWaitsForAFreeSlot) {
    const auto source = random_bytes(8 * kReaderSlotSize, 9);
    for (int round = 0; round < 20; ++round) {
        FileReader f(source);
        ArchiveReader& reader = f.reader;
        if (round % 2) {
            // Let the thread fill its three slots and wait.
            while (reader.slot_state[2].load() != kSlotFilled)
                std::this_thread::yield();
            EXPECT_EQ(read_byte(reader), source[0]);
        }
        reader_stop(reader);
        EXPECT_EQ(reader.handles, nullptr);
        reader_stop(reader); // twice is harmless
    }
}

TEST(ArchiveReaderTeardown, StopAfterTheThreadHasFinished) {
    // Three slots requested at the start: the thread reads two full ones and the short third, and ends.
    const int32_t size = 2 * kReaderSlotSize + 1000;
    const auto source = random_bytes(static_cast<size_t>(size), 10);
    for (int round = 0; round < 20; ++round) {
        FileReader f(source);
        ArchiveReader& reader = f.reader;
        ASSERT_NE(reader.handles, nullptr);
        while (!reader.finished.load())
            std::this_thread::yield();
        if (round % 2) {
            std::vector<uint8_t> all(static_cast<size_t>(size) + 1000);
            EXPECT_EQ(read_bytes(reader, all.data(), size + 1000), size);
        }
        reader_stop(reader);
    }
}

} // namespace
