// The unpack run in memory: archives made by the archive writer, cut, damaged or refused.

#include "archive/archive_extension.h"
#include "pack/packer.h"
#include "random_bytes.h"
#include "raw_archives.h"
#include "unpack/unpacker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

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

    // With an extension at the end the archive is known to go on past the item: damage, not a cut.
    const std::vector<uint8_t> extension = make_extension(archive.size(), {});
    archive.insert(archive.end(), extension.begin(), extension.end());
    RecordingOutput again;
    ArchiveSettings settings;
    MemberReport report;
    ASSERT_EQ(read_archive_header(ArchiveInput{nullptr, archive.data(), archive.size()}, settings),
              UnpackStatus::Ok);
    EXPECT_EQ(unpack_items(ArchiveInput{nullptr, archive.data(), archive.size()}, settings, again.sink, {},
                           {}, &report),
              UnpackStatus::Corrupt);
    EXPECT_TRUE(report.ran_past_known_end);
    EXPECT_EQ(again.bytes, first);
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

// An archive of raw items followed by its extension, as talvo-pack writes it.
std::vector<uint8_t> checked_archive(const std::vector<std::vector<uint8_t>>& items) {
    std::vector<uint8_t> archive = raw_archive(items);
    const std::vector<uint8_t> restored = concat(items);
    append_extension(archive, restored.data(), restored.size());
    return archive;
}

UnpackStatus unpack_all(const std::vector<uint8_t>& input, RecordingOutput& output, ArchiveReport& report) {
    const ArchiveInput archive{nullptr, input.data(), input.size()};
    ArchiveSettings settings;
    const UnpackStatus status = read_archive_header(archive, settings);
    if (status != UnpackStatus::Ok) return status;
    return unpack_members(archive, settings, output.sink, {}, {}, report);
}

TEST(Members, ConcatenatedArchivesRestoreOneAfterAnother) {
    // The first member is larger than one reader slot, so the others begin in a later one; read from
    // memory and from a file (through the reader thread).
    const auto x = random_bytes(700000, 20), y = random_bytes(70, 21), z = random_bytes(5000, 22);
    const std::vector<uint8_t> first = checked_archive({x}), second = raw_archive({y}, 0x0B),
                               third = checked_archive({z, x});
    const std::vector<uint8_t> all = concat({first, second, third});
    for (const bool from_file : {false, true}) {
        SCOPED_TRACE(from_file ? "file" : "memory");
        FILE* file = from_file ? std::tmpfile() : nullptr;
        if (from_file) {
            ASSERT_NE(file, nullptr);
            ASSERT_EQ(std::fwrite(all.data(), 1, all.size(), file), all.size());
            std::rewind(file);
        }
        const ArchiveInput input{file, all.data(), all.size()};
        ArchiveSettings settings;
        ASSERT_EQ(read_archive_header(input, settings), UnpackStatus::Ok);
        RecordingOutput out;
        ArchiveReport report;
        EXPECT_EQ(unpack_members(input, settings, out.sink, {}, {}, report), UnpackStatus::Ok);
        if (file) std::fclose(file);
        EXPECT_TRUE(out.bytes == concat({x, y, z, x}));
        ASSERT_EQ(report.members.size(), 3u);
        EXPECT_EQ(report.members[1].offset, first.size());
        EXPECT_EQ(report.members[1].length, second.size());
        EXPECT_EQ(report.members[1].settings.slot_selector, 3);
        EXPECT_TRUE(report.members[1].settings.carry_over);
        EXPECT_EQ(report.members[2].offset, first.size() + second.size());
        EXPECT_EQ(report.members[0].checksum, ChecksumState::Matched);
        EXPECT_EQ(report.members[1].checksum, ChecksumState::Absent);
        EXPECT_EQ(report.members[2].checksum, ChecksumState::Matched);
        EXPECT_EQ(report.members[2].recorded.length, z.size() + x.size());
    }

    // talvo restores the first member only, and checks it.
    RecordingOutput talvo;
    EXPECT_EQ(unpack(all, talvo), UnpackStatus::Ok);
    EXPECT_TRUE(talvo.bytes == x);
}

TEST(Members, BytesAfterTheLastMemberAreReportedNotDropped) {
    const auto x = random_bytes(100, 23);
    for (const std::vector<uint8_t>& archive : {checked_archive({x}), raw_archive({x})}) {
        for (const std::vector<uint8_t>& junk :
             std::vector<std::vector<uint8_t>>{{'j', 'u', 'n', 'k'}, {'T', 'A', 'L', 'V', 'O'}, {0}}) {
            RecordingOutput out;
            ArchiveReport report;
            EXPECT_EQ(unpack_all(concat({archive, junk}), out, report), UnpackStatus::TrailingData);
            EXPECT_EQ(report.trailing_offset, archive.size());
            EXPECT_EQ(report.trailing_bytes, junk.size());
            EXPECT_EQ(out.bytes, x) << "the members before them are restored";
            // talvo reads nothing after the first member's extension.
            RecordingOutput talvo;
            EXPECT_EQ(unpack(concat({archive, junk}), talvo), UnpackStatus::Ok);
        }
    }
}

TEST(Checksum, AChangedRawByteIsFoundAndTheOutputKept) {
    const auto x = random_bytes(2000, 24);
    std::vector<uint8_t> archive = checked_archive({x});
    archive[archive.size() - kExtensionMinSize - kContentRecordSize - 5 - 1000] ^= 0x10;
    RecordingOutput out;
    EXPECT_EQ(unpack(archive, out), UnpackStatus::ChecksumMismatch);
    EXPECT_EQ(out.bytes.size(), x.size());
    EXPECT_NE(out.bytes, x);
}

TEST(Checksum, ADamagedExtensionIsToldApartFromADamagedArchive) {
    const auto x = random_bytes(500, 25);
    const std::vector<uint8_t> good = checked_archive({x});
    const size_t frame = raw_archive({x}).size();
    for (size_t at = frame; at < good.size(); ++at) {
        std::vector<uint8_t> archive = good;
        archive[at] ^= 0x01;
        RecordingOutput out;
        ArchiveReport report;
        const UnpackStatus status = unpack_all(archive, out, report);
        EXPECT_EQ(out.bytes, x) << at;
        if (at < frame + sizeof kExtensionMagic) {
            // Without its magic the frame is not recognised: bytes that belong to nothing.
            EXPECT_EQ(status, UnpackStatus::TrailingData) << at;
        } else {
            EXPECT_EQ(status, UnpackStatus::ChecksumDamaged) << at;
            RecordingOutput talvo;
            EXPECT_EQ(unpack(archive, talvo), UnpackStatus::ChecksumDamaged) << at;
        }
    }
}

TEST(Checksum, AFrameClaimingAGigabyteIsDamagedNotAllocated) {
    const auto x = random_bytes(100, 28);
    std::vector<uint8_t> archive = checked_archive({x});
    const size_t frame = raw_archive({x}).size();
    for (size_t i = 0; i < 4; ++i)
        archive[frame + 9 + i] = static_cast<uint8_t>(kExtensionMaxSize >> (8 * i));
    RecordingOutput out;
    EXPECT_EQ(unpack(archive, out), UnpackStatus::ChecksumDamaged);
    EXPECT_EQ(out.bytes, x);
}

TEST(Checksum, TheExtensionIsFoundWhereTheWriterPutIt) {
    const auto x = random_bytes(64, 26);
    const std::vector<uint8_t> bare = raw_archive({x});
    const ContentDigest digest{x.size(), content_checksum(x.data(), x.size())};
    // Bytes a decoder left untaken before the end marker put the reader a few bytes short of where
    // the writer wrote the frame; the member length the frame records tells which offset is meant.
    for (size_t gap : {size_t{0}, size_t{3}, size_t{16}}) {
        for (const bool right_length : {true, false}) {
            std::vector<uint8_t> archive = bare;
            archive.insert(archive.end(), gap, 0xAA);
            const uint64_t member_length = archive.size() + (right_length ? 0 : 1);
            const std::vector<uint8_t> frame = make_extension(member_length, {content_record(digest)});
            archive.insert(archive.end(), frame.begin(), frame.end());
            RecordingOutput out;
            MemberReport report;
            ArchiveSettings settings;
            ASSERT_EQ(read_archive_header(ArchiveInput{nullptr, archive.data(), archive.size()}, settings),
                      UnpackStatus::Ok);
            const UnpackStatus status = unpack_items(ArchiveInput{nullptr, archive.data(), archive.size()},
                                                     settings, out.sink, {}, {}, &report);
            EXPECT_EQ(status, right_length ? UnpackStatus::Ok : UnpackStatus::ChecksumDamaged) << gap;
            EXPECT_EQ(report.checksum, right_length ? ChecksumState::Matched : ChecksumState::Damaged) << gap;
        }
    }
}

TEST(Checksum, LaterRecordsAndVersionsAreSkippedNotRefused) {
    const auto x = random_bytes(80, 27);
    const std::vector<uint8_t> bare = raw_archive({x});
    const ContentDigest digest{x.size(), content_checksum(x.data(), x.size())};
    ExtensionRecord unknown;
    unknown.type = 0x7F;
    unknown.payload = {1, 2, 3};
    std::vector<uint8_t> archive =
        concat({bare, make_extension(bare.size(), {unknown, content_record(digest)})});
    RecordingOutput out;
    ArchiveReport report;
    EXPECT_EQ(unpack_all(archive, out, report), UnpackStatus::Ok);
    ASSERT_EQ(report.members.size(), 1u);
    EXPECT_EQ(report.members[0].checksum, ChecksumState::Matched);

    // A later version keeps the frame (magic, lengths, check, end) but not what lies inside it.
    std::vector<uint8_t> later = make_extension(bare.size(), {content_record(digest)});
    later[8] = kExtensionVersion + 1;
    const uint64_t check = content_checksum(later.data(), later.size() - 12);
    for (int i = 0; i < 8; ++i)
        later[later.size() - 12 + static_cast<size_t>(i)] = static_cast<uint8_t>(check >> (8 * i));
    RecordingOutput again;
    EXPECT_EQ(unpack_all(concat({bare, later, bare}), again, report), UnpackStatus::Ok);
    EXPECT_EQ(report.members[0].checksum, ChecksumState::NotUnderstood);
    EXPECT_EQ(again.bytes, concat({x, x}));

    // The fixed-size end leads from the end of a file back to its member's start.
    ExtensionTrailer trailer;
    ASSERT_TRUE(read_extension_trailer(archive.data() + archive.size() - kExtensionTrailerSize, trailer));
    EXPECT_EQ(trailer.length + trailer.member_length, archive.size());
}

} // namespace
