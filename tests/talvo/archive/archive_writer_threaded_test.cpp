// The archive container as the writer makes it and the reader takes it: length codes, and the control
// decisions that announce the items (the reader runs its own thread).

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

TEST(LengthCode, EveryWidthIsTheShortestAndReadsBack) {
    const std::vector<std::pair<uint32_t, size_t>> cases = {
        {0, 1},       {63, 1},      {64, 2},        {16383, 2},          {16384, 3},
        {4194303, 3}, {4194304, 4}, {123456789, 4}, {kMaxLengthCode, 4},
    };
    std::vector<uint8_t> codes;
    for (const auto& [value, width] : cases) {
        const size_t before = codes.size();
        append_length_code(codes, value);
        EXPECT_EQ(codes.size() - before, width) << value;
    }
    ArchiveReader reader;
    ASSERT_TRUE(reader_start_memory(reader, codes.data(), codes.size()));
    for (const auto& [value, width] : cases)
        EXPECT_EQ(read_length(reader), value);
    EXPECT_FALSE(reader_is_exhausted(reader));
    reader_stop(reader);
}

TEST(RawArchiveSize, IsTheSizeOfTheArchiveTheWriterMakes) {
    // Item counts across the control block's own length code widths, items across the widths of theirs.
    const std::vector<uint8_t> data(300000, 0x5A);
    for (const auto& [size, max_item] : std::vector<std::pair<size_t, size_t>>{{0, 1000},
                                                                               {1, 1000},
                                                                               {63, 63},
                                                                               {64, 63},
                                                                               {20000, 1},
                                                                               {299999, 7},
                                                                               {300000, 16384},
                                                                               {300000, 1 << 30}}) {
        ArchiveWriter writer;
        writer_init(writer, 0);
        writer_add_raw_bytes(writer, data.data(), size, max_item);
        EXPECT_EQ(raw_archive_size(size, max_item), writer_finish(writer).size()) << size << " " << max_item;
    }
}

TEST(LengthCode, HandWrittenCodesRead) {
    const std::vector<uint8_t> codes = {0xFC, 0xFD, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x01};
    ArchiveReader reader;
    ASSERT_TRUE(reader_start_memory(reader, codes.data(), codes.size()));
    EXPECT_EQ(read_length(reader), 63u);
    EXPECT_EQ(read_length(reader), 16383u);
    EXPECT_EQ(read_length(reader), 0u); // a four-byte code of zero: exactly three more bytes are taken
    EXPECT_EQ(read_byte(reader), 0x01);
    reader_stop(reader);
}

TEST(ControlDecisions, ItemKindsDecodeInTheOrderTheyWereCoded) {
    std::mt19937 rng(5);
    std::vector<ItemKind> kinds;
    std::vector<bool> remembers;
    ArchiveWriter writer;
    writer_init(writer, 0);
    for (int i = 0; i < 2000; ++i) {
        const auto kind = static_cast<ItemKind>(rng() % 3);
        kinds.push_back(kind);
        if (kind == ItemKind::Raw) {
            const uint8_t byte = static_cast<uint8_t>(i);
            writer_add_raw_item(writer, &byte, 1);
        } else if (kind == ItemKind::Repeat) {
            writer_begin_repeat_item(writer);
        } else {
            remembers.push_back(rng() % 2);
            writer_begin_stream_item(writer, remembers.back());
            RangeEncoder aux, page, data;
            ASSERT_TRUE(writer_end_stream_item(writer, aux, page, data));
        }
    }
    const auto archive = writer_finish(writer);

    ArchiveReader reader;
    ASSERT_TRUE(reader_start_memory(reader, archive.data() + kArchiveHeaderSize,
                                    archive.size() - kArchiveHeaderSize));
    uint32_t length = 0;
    uint8_t* control = read_block(reader, length);
    ASSERT_NE(control, nullptr);
    RangeDecoder dec;
    init_decoder(dec, control, static_cast<int32_t>(length));
    Unpacking dir{&dec};
    uint16_t probs[kControlProbCount];
    std::fill(std::begin(probs), std::end(probs), kProbInit);
    int previous = 0;
    size_t remember_index = 0;
    for (size_t i = 0; i < kinds.size(); ++i) {
        ASSERT_EQ(code_item_kind(dir, probs, previous, ItemKind::Raw), kinds[i]) << i;
        if (kinds[i] == ItemKind::Stream) {
            ASSERT_EQ(code_remember_bit(dir, probs, false), remembers[remember_index++]);
        }
    }
    EXPECT_EQ(code_item_kind(dir, probs, previous, ItemKind::Stream), ItemKind::Raw) << "the end marker";
    EXPECT_TRUE(std::equal(std::begin(probs), std::end(probs), std::begin(writer.control_probs)));
    std::free(control);
    reader_stop(reader);
}

// The same items written with and without a spool make the same archive: across the spool's chunks,
// and after going back to marks before bytes already spooled and within the bytes not yet spooled.
TEST(SpooledWriter, MakesTheArchiveTheWriterMakesInMemory) {
    std::mt19937 rng(22);
    std::vector<uint8_t> data(size_t{3} << 20);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());
    FILE* spool = std::tmpfile();
    ASSERT_NE(spool, nullptr);
    ArchiveWriter memory, spooled;
    writer_init(memory, 0x0A);
    writer_init_spooled(spooled, 0x0A, spool);
    auto both = [&](size_t offset, size_t size, size_t max_item) {
        writer_add_raw_bytes(memory, data.data() + offset, size, max_item);
        writer_add_raw_bytes(spooled, data.data() + offset, size, max_item);
        EXPECT_EQ(writer_items_size(memory), writer_items_size(spooled));
    };
    both(0, 1500000, 700000);
    const ArchiveWriterMark memory_mark = writer_mark(memory), spooled_mark = writer_mark(spooled);
    both(1500000, 1200000, 500000); // spools past the mark
    EXPECT_GT(spooled.spooled, spooled_mark.items_size);
    writer_rollback(memory, memory_mark);
    writer_rollback(spooled, spooled_mark);
    EXPECT_EQ(writer_items_size(spooled), spooled_mark.items_size);
    both(2700000, 300, 1000); // shorter than what it replaces: the spool keeps stale bytes past the end
    const ArchiveWriterMark tail_memory = writer_mark(memory), tail_spooled = writer_mark(spooled);
    both(100, 5000, 64);
    writer_rollback(memory, tail_memory);
    writer_rollback(spooled, tail_spooled);
    both(200, 70000, 70000);

    const std::vector<uint8_t> expected = writer_finish(memory);
    std::vector<uint8_t> archive;
    ASSERT_TRUE(writer_finish_spooled(spooled, archive));
    ASSERT_TRUE(seek_file(spool, 0));
    std::vector<uint8_t> items(static_cast<size_t>(spooled.spooled));
    ASSERT_EQ(std::fread(items.data(), 1, items.size(), spool), items.size());
    archive.insert(archive.end(), items.begin(), items.end());
    EXPECT_TRUE(archive == expected);
    std::fclose(spool);
}

} // namespace
