// The unpack run in memory: archives made by the archive writer, cut, damaged or refused.

#include "raw_archives.h"
#include "unpack/unpacker.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 rng(seed);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

// Records what the unpacker does with its output.
struct RecordingOutput {
    std::vector<uint8_t> bytes;
    std::vector<size_t> writes;
    bool refuse_write = false;
    OutputSink sink{this, write};

    static bool write(void* context, const uint8_t* data, size_t size) {
        auto* self = static_cast<RecordingOutput*>(context);
        if (self->refuse_write) return false;
        self->writes.push_back(size);
        self->bytes.insert(self->bytes.end(), data, data + size);
        return true;
    }
};

UnpackStatus unpack(const std::vector<uint8_t>& archive, RecordingOutput& output) {
    return unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, output.sink);
}

TEST(ControlDecisions, RollbackForgetsAnItemEntirely) {
    const auto first = random_bytes(100, 1), second = random_bytes(50, 2);
    ArchiveWriter writer;
    writer_init(writer, 0);
    writer_add_raw_item(writer, first.data(), first.size());
    const ArchiveWriterMark mark = writer_mark(writer);
    writer_begin_stream_item(writer, true);
    RangeEncoder aux, page, data;
    writer_end_stream_item(writer, aux, page, data);
    writer_rollback(writer, mark);
    writer_add_raw_item(writer, second.data(), second.size());
    RecordingOutput out;
    EXPECT_EQ(unpack(writer_finish(writer), out), UnpackStatus::Ok);
    EXPECT_EQ(out.bytes, concat({first, second}));
}

TEST(RawItems, EveryLengthCodeWidthRoundTrips) {
    std::vector<std::vector<uint8_t>> items;
    uint32_t seed = 10;
    for (size_t size : {1, 63, 64, 16383, 16384, 4194303, 4194304, 7})
        items.push_back(random_bytes(size, seed++));
    RecordingOutput out;
    EXPECT_EQ(unpack(raw_archive(items), out), UnpackStatus::Ok);
    EXPECT_EQ(out.bytes, concat(items));
    ASSERT_EQ(out.writes.size(), items.size()) << "one write per raw item";
}

TEST(RawItems, OneMillionBytesGoOutInOneWrite) {
    const auto item = random_bytes(1000000, 3);
    RecordingOutput out;
    EXPECT_EQ(unpack(raw_archive({item}), out), UnpackStatus::Ok);
    EXPECT_EQ(out.writes, std::vector<size_t>({1000000}));
    EXPECT_EQ(out.bytes, item);
}

TEST(RawItems, EndMarkerFirstGivesEmptyOutput) {
    RecordingOutput out;
    EXPECT_EQ(unpack(raw_archive({}), out), UnpackStatus::Ok);
    EXPECT_TRUE(out.writes.empty());
}

TEST(Header, ValidFlagsIncludingIgnoredHighBits) {
    const auto item = random_bytes(300, 4);
    for (uint8_t flags : {0x00, 0x03, 0x08, 0xF3, 0xF0}) {
        RecordingOutput out;
        EXPECT_EQ(unpack(raw_archive({item}, flags), out), UnpackStatus::Ok) << int(flags);
        EXPECT_EQ(out.bytes, item);
    }
}

// The header alone decides; the talvo program creates its output only after it was accepted.
TEST(Header, SlotSelectorsAboveThreeAreRefused) {
    for (uint8_t flags : {0x04, 0x05, 0x07, 0xFC}) {
        const auto archive = raw_archive({{1, 2, 3}}, flags);
        ArchiveSettings settings;
        EXPECT_EQ(read_archive_header(ArchiveInput{nullptr, archive.data(), archive.size()}, settings),
                  UnpackStatus::InvalidFormat)
            << int(flags);
        RecordingOutput out;
        EXPECT_EQ(unpack(archive, out), UnpackStatus::InvalidFormat) << int(flags);
        EXPECT_TRUE(out.writes.empty());
    }
}

TEST(Header, BadOrShortMagicIsRefused) {
    const auto good = raw_archive({{1, 2, 3}});
    std::vector<std::vector<uint8_t>> bad = {{'T', 'A', 'L', 'V', 'O', 'X', 0, 0},
                                             {'t', 'A', 'L', 'V', 'O', 0, 0, 0}};
    for (size_t n = 0; n < static_cast<size_t>(kArchiveHeaderSize); ++n)
        bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    for (const auto& archive : bad) {
        ArchiveSettings settings;
        EXPECT_EQ(read_archive_header(ArchiveInput{nullptr, archive.data(), archive.size()}, settings),
                  UnpackStatus::InvalidHeader)
            << archive.size();
        RecordingOutput out;
        EXPECT_EQ(unpack(archive, out), UnpackStatus::InvalidHeader) << archive.size();
        EXPECT_TRUE(out.writes.empty());
    }
}

TEST(Failures, OutputThatCannotBeWritten) {
    const auto archive = raw_archive({{1, 2, 3}});
    RecordingOutput no_write;
    no_write.refuse_write = true;
    EXPECT_EQ(unpack(archive, no_write), UnpackStatus::WriteFailed);
}

TEST(Failures, ArchiveCutAtEveryByteFailsAndKeepsAPrefix) {
    const std::vector<std::vector<uint8_t>> items = {random_bytes(1, 5), random_bytes(70, 6),
                                                     random_bytes(300, 7), random_bytes(5, 8)};
    const auto archive = raw_archive(items);
    const auto expected = concat(items);
    for (size_t cut = 0; cut < archive.size(); ++cut) {
        const std::vector<uint8_t> head(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(cut));
        RecordingOutput out;
        const UnpackStatus status = unpack(head, out);
        if (cut < static_cast<size_t>(kArchiveHeaderSize))
            EXPECT_EQ(status, UnpackStatus::InvalidHeader) << cut;
        else
            EXPECT_EQ(status, UnpackStatus::UnexpectedEnd) << cut;
        ASSERT_LE(out.bytes.size(), expected.size());
        EXPECT_TRUE(std::equal(out.bytes.begin(), out.bytes.end(), expected.begin())) << cut;
    }
}

TEST(Failures, BogusHugeRawLengthEndsAsUnexpectedEnd) {
    const auto first = random_bytes(20, 9);
    const auto full = raw_archive({first, random_bytes(4194304, 10)});
    // Keep the header, control block and first item, then claim a 1 GiB item followed by 10 bytes.
    const size_t tail = 4 + 4194304 + 1; // the second item's length code and bytes, the end marker
    ASSERT_GT(full.size(), tail);
    std::vector<uint8_t> archive(full.begin(), full.end() - static_cast<std::ptrdiff_t>(tail));
    for (uint8_t b : {0xFF, 0xFF, 0xFF, 0xFF})
        archive.push_back(b);
    for (int i = 0; i < 10; ++i)
        archive.push_back(static_cast<uint8_t>(i));
    RecordingOutput out;
    EXPECT_EQ(unpack(archive, out), UnpackStatus::UnexpectedEnd);
    EXPECT_EQ(out.bytes, first);
}

TEST(Failures, ARepeatOfNothingStoredWritesNothing) {
    // The repeat's index and serial number are decoded from a control sub-stream that holds none: the
    // store is empty either way, so nothing is written for it and the run goes on.
    const auto before = random_bytes(40, 11);
    ArchiveWriter writer;
    writer_init(writer, 0);
    writer_add_raw_item(writer, before.data(), before.size());
    writer_begin_repeat_item(writer);
    RecordingOutput out;
    EXPECT_EQ(unpack(writer_finish(writer), out), UnpackStatus::Incomplete);
    EXPECT_EQ(std::vector<uint8_t>(
                  out.bytes.begin(),
                  out.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(out.bytes.size(), before.size()))),
              before);
}

TEST(Failures, AStreamItemThatFailsEndsThatItemOnly) {
    // Empty sub-streams: the first page is no identification page, so the stream fails at once and the
    // items after it are restored as usual; the run then says that it restored less than described.
    const auto before = random_bytes(40, 11);
    ArchiveWriter writer;
    writer_init(writer, 0);
    writer_add_raw_item(writer, before.data(), before.size());
    writer_begin_stream_item(writer, false);
    RangeEncoder aux, page, data;
    writer_end_stream_item(writer, aux, page, data);
    writer_add_raw_item(writer, before.data(), before.size());
    RecordingOutput out;
    EXPECT_EQ(unpack(writer_finish(writer), out), UnpackStatus::Incomplete);
    std::vector<uint8_t> twice = before;
    twice.insert(twice.end(), before.begin(), before.end());
    EXPECT_EQ(out.bytes, twice);
}

} // namespace
