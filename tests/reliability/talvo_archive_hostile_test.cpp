// The unpacker on damaged and hostile archives: cut at every byte, bits flipped at random, length codes
// that claim more than the archive holds, a control block that runs out, random bytes after a valid
// header, and every input a fuzzer found a fault with. Each run must end, with a status that says
// what went wrong, keeping only output that the archive paid for.

#include "../talvo/support/sample_files.h"
#include "hostile_inputs.h"
#include "process_runner.h"
#include "scratch_dir.h"

#include "archive/archive_writer.h"
#include "pack/packer.h"
#include "unpack/unpacker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace {

struct Unpacked {
    UnpackStatus status = UnpackStatus::Ok;
    std::vector<uint8_t> bytes;
};

Unpacked unpack(const std::vector<uint8_t>& archive) {
    Unpacked result;
    OutputSink sink = vector_sink(result.bytes);
    result.status = unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, sink);
    return result;
}

bool is_prefix(const std::vector<uint8_t>& head, const std::vector<uint8_t>& whole) {
    return head.size() <= whole.size() && std::equal(head.begin(), head.end(), whole.begin());
}

// Garbage that reaches a stream item may come out as pages before the damage is noticed; anything
// beyond this is output the archive did not pay for.
size_t output_bound(size_t archive_size) {
    return 8 * archive_size + (size_t{1} << 20);
}

struct PackedFile {
    std::string name;
    std::vector<uint8_t> original;
    std::vector<uint8_t> archive;
};

// A raw archive of several items, and archives packed from the start of some sample files (stream items
// wherever the packer models the stream).
std::vector<PackedFile> packed_files() {
    std::vector<PackedFile> files;
    std::vector<uint8_t> raw;
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        const auto part = random_bytes(seed * 37, seed);
        raw.insert(raw.end(), part.begin(), part.end());
    }
    files.push_back({"random", raw, {}});
    for (const char* name : {"oggenc_8k.ogg", "oggenc_q3.ogg", "chained.ogg", "opus.ogg"}) {
        auto bytes = load_sample(name);
        if (bytes.size() > 24000) bytes.resize(24000);
        if (!bytes.empty()) files.push_back({name, bytes, {}});
    }
    for (auto& f : files) {
        PackOptions options;
        options.max_raw_item = 100;
        EXPECT_EQ(pack_archive(f.original.data(), f.original.size(), f.archive, options), PackStatus::Ok)
            << f.name;
    }
    return files;
}

// Where the first item starts: after the header and the control block's length code and bytes.
size_t first_item_offset(const std::vector<uint8_t>& archive) {
    const uint8_t b0 = archive[kArchiveHeaderSize];
    uint32_t value = b0;
    for (int i = 1; i <= (b0 & 3); ++i)
        value += static_cast<uint32_t>(archive[kArchiveHeaderSize + static_cast<size_t>(i)]) << (8 * i);
    return kArchiveHeaderSize + 1 + (b0 & 3) + (value >> 2);
}

// Replaces the length code at `pos` by the largest four-byte code.
std::vector<uint8_t> with_huge_length_at(const std::vector<uint8_t>& archive, size_t pos) {
    std::vector<uint8_t> out(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(pos));
    const size_t code_size = 1 + (archive[pos] & 3);
    for (int i = 0; i < 4; ++i)
        out.push_back(0xFF);
    out.insert(out.end(), archive.begin() + static_cast<std::ptrdiff_t>(pos + code_size), archive.end());
    return out;
}

TEST(ArchiveHostile, CutAtEveryByteFailsWithBoundedOutput) {
    for (const auto& f : packed_files()) {
        const size_t step = std::max<size_t>(1, f.archive.size() / 120);
        for (size_t cut = 0; cut < f.archive.size(); cut += step) {
            const std::vector<uint8_t> head(f.archive.begin(),
                                            f.archive.begin() + static_cast<std::ptrdiff_t>(cut));
            const Unpacked out = unpack(head);
            ASSERT_NE(out.status, UnpackStatus::Ok) << f.name << " cut " << cut;
            ASSERT_LE(out.bytes.size(), output_bound(f.archive.size())) << f.name << " cut " << cut;
            if (f.name == "random") {
                EXPECT_TRUE(is_prefix(out.bytes, f.original)) << "cut " << cut;
            }
        }
        EXPECT_EQ(unpack(f.archive).bytes, f.original) << f.name;
    }
}

TEST(ArchiveHostile, FlippedBitsEndWithAStatus) {
    std::mt19937 rng(7);
    for (const auto& f : packed_files()) {
        for (int trial = 0; trial < 60; ++trial) {
            auto damaged = f.archive;
            for (int flips = 1 + static_cast<int>(rng() % 3); flips > 0; --flips) {
                // Past the header, which has its own checks.
                const size_t at = kArchiveHeaderSize + rng() % (damaged.size() - kArchiveHeaderSize);
                damaged[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
            }
            const Unpacked out = unpack(damaged);
            if (out.status != UnpackStatus::Ok) {
                EXPECT_STRNE(unpack_status_message(out.status), "") << f.name << " trial " << trial;
            }
            ASSERT_LE(out.bytes.size(), output_bound(damaged.size())) << f.name << " trial " << trial;
        }
    }
}

TEST(ArchiveHostile, OversizedControlAndRawLengthsEndAsUnexpectedEnd) {
    std::vector<std::vector<uint8_t>> items = {random_bytes(10, 1), random_bytes(300, 2), random_bytes(5, 3)};
    ArchiveWriter writer;
    writer_init(writer, 0);
    for (const auto& item : items)
        writer_add_raw_item(writer, item.data(), item.size());
    const auto archive = writer_finish(writer);

    const Unpacked control = unpack(with_huge_length_at(archive, kArchiveHeaderSize));
    EXPECT_EQ(control.status, UnpackStatus::UnexpectedEnd);
    EXPECT_TRUE(control.bytes.empty());

    std::vector<uint8_t> before;
    size_t pos = first_item_offset(archive);
    for (const auto& item : items) {
        const Unpacked out = unpack(with_huge_length_at(archive, pos));
        EXPECT_EQ(out.status, UnpackStatus::UnexpectedEnd);
        EXPECT_EQ(out.bytes, before);
        before.insert(before.end(), item.begin(), item.end());
        pos += 1 + (archive[pos] & 3) + item.size();
    }
}

TEST(ArchiveHostile, OversizedSubStreamLengthsFail) {
    const auto before = random_bytes(40, 4);
    ArchiveWriter writer;
    writer_init(writer, 0);
    writer_add_raw_item(writer, before.data(), before.size());
    writer_begin_stream_item(writer, true);
    RangeEncoder aux, page, data;
    init_encoder(aux);
    init_encoder(page);
    init_encoder(data);
    uint16_t prob = kProbInit;
    for (int i = 0; i < 64; ++i) {
        encode_bit(aux, prob, i & 1);
        encode_bit(page, prob, (i >> 1) & 1);
        encode_bit(data, prob, (i >> 2) & 1);
    }
    ASSERT_TRUE(writer_end_stream_item(writer, aux, page, data));
    const auto archive = writer_finish(writer);

    // The stream item's three sub-streams follow the raw item: aux block, page block, data length.
    size_t pos = first_item_offset(archive) + 1 + before.size();
    for (int sub = 0; sub < 3; ++sub) {
        const Unpacked out = unpack(with_huge_length_at(archive, pos));
        EXPECT_NE(out.status, UnpackStatus::Ok) << "sub-stream " << sub;
        EXPECT_STRNE(unpack_status_message(out.status), "");
        EXPECT_TRUE(is_prefix(before, out.bytes)) << "sub-stream " << sub;
        const uint8_t b0 = archive[pos];
        uint32_t value = b0;
        for (int i = 1; i <= (b0 & 3); ++i)
            value += static_cast<uint32_t>(archive[pos + static_cast<size_t>(i)]) << (8 * i);
        pos += 1 + (b0 & 3) + (sub < 2 ? value >> 2 : 0);
    }
}

TEST(ArchiveHostile, ControlBlockThatRunsOutIsCorrupt) {
    // Five zero bytes decode as "raw item" for ever after their end; the items are one byte each, so
    // without the overrun check this archive would run through all of them.
    std::vector<uint8_t> archive(kArchiveMagic, kArchiveMagic + sizeof kArchiveMagic);
    archive.push_back(0);
    append_length_code(archive, 5);
    archive.insert(archive.end(), 5, 0);
    const size_t item_count = 400000;
    std::vector<uint8_t> payload;
    for (size_t i = 0; i < item_count; ++i) {
        append_length_code(archive, 1);
        payload.push_back(static_cast<uint8_t>(i * 7 + 1));
        archive.push_back(payload.back());
    }
    append_length_code(archive, 0);
    const Unpacked out = unpack(archive);
    EXPECT_EQ(out.status, UnpackStatus::Corrupt);
    EXPECT_STREQ(unpack_status_message(out.status), "Archive is corrupt!\n");
    EXPECT_LT(out.bytes.size(), payload.size());
    EXPECT_TRUE(is_prefix(out.bytes, payload));
}

// Reads the length code at `pos`; `size` gets its byte count.
uint32_t length_code_at(const std::vector<uint8_t>& archive, size_t pos, size_t& size) {
    const uint8_t b0 = archive[pos];
    uint32_t value = b0;
    for (int i = 1; i <= (b0 & 3); ++i)
        value += static_cast<uint32_t>(archive[pos + static_cast<size_t>(i)]) << (8 * i);
    size = 1 + (b0 & 3);
    return value >> 2;
}

TEST(ArchiveHostile, DataSubStreamThatRunsOutIsCorruptAndKeepsItsPages) {
    const auto original = load_sample("oggenc_8k.ogg");
    if (original.empty()) GTEST_SKIP() << "samples not made";
    std::vector<uint8_t> archive;
    ASSERT_EQ(pack_archive(original.data(), original.size(), archive), PackStatus::Ok);
    // A single Vorbis stream packs to one stream item: aux block, page block, then the data length.
    size_t pos = first_item_offset(archive);
    for (int block = 0; block < 2; ++block) {
        size_t code_size = 0;
        pos += length_code_at(archive, pos, code_size);
        pos += code_size;
    }
    size_t code_size = 0;
    const uint32_t data_length = length_code_at(archive, pos, code_size);
    ASSERT_GT(data_length, 1000u);
    // Claim half the data, in a code of the same size: the rest of it stays in the archive, so the
    // input does not end, but the data decoder runs out of its sub-stream halfway through the audio.
    const uint32_t claimed = (data_length / 2) << 2 | static_cast<uint32_t>(code_size - 1);
    for (size_t i = 0; i < code_size; ++i)
        archive[pos + i] = static_cast<uint8_t>(claimed >> (8 * i));

    const Unpacked out = unpack(archive);
    EXPECT_EQ(out.status, UnpackStatus::Corrupt);
    EXPECT_LT(out.bytes.size(), original.size());
    const auto differs = std::mismatch(out.bytes.begin(), out.bytes.end(), original.begin());
    EXPECT_GT(differs.first - out.bytes.begin(), static_cast<std::ptrdiff_t>(original.size() / 4))
        << "the pages restored before the data ran out are kept";
}

TEST(ArchiveHostile, RandomArchivesFailQuicklyOnTheCommandLine) {
    // A generous watchdog: a run that hangs fails the test program instead of stalling the suite.
    std::atomic<bool> done{false};
    std::thread watchdog([&done] {
        for (int i = 0; i < 1200 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!done) {
            std::fputs("watchdog: talvo did not finish on a 100-byte archive\n", stderr);
            std::abort();
        }
    });
    const ScratchDir dir("talvo-hostile");
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::vector<uint8_t> archive(kArchiveMagic, kArchiveMagic + sizeof kArchiveMagic);
        const auto tail = random_bytes(100 - archive.size(), seed);
        archive.insert(archive.end(), tail.begin(), tail.end());
        archive[6] &= 0x0B; // a valid flags byte, so the items are decoded
        EXPECT_NE(unpack(archive).status, UnpackStatus::Ok) << "seed " << seed;

        const std::string stem = dir.file("hostile_" + std::to_string(seed));
        {
            std::ofstream file(stem + ".talvo", std::ios::binary);
            file.write(reinterpret_cast<const char*>(archive.data()),
                       static_cast<std::streamsize>(archive.size()));
        }
        const ProcessRun run = run_process(built_program("talvo"), {stem + ".talvo", stem + ".ogg"});
        ASSERT_TRUE(run.started) << run.start_error;
        EXPECT_EQ(run.exit_code, 1) << "seed " << seed << ": " << run.out;
        std::remove((stem + ".talvo").c_str());
        std::remove((stem + ".ogg").c_str());
    }
    done = true;
    watchdog.join();
}

TEST(ArchiveHostile, FuzzerFindingsEndWithAStatus) {
    for (const auto& path : regression_inputs("talvo_unpack_")) {
        const auto archive = read_file_bytes(path);
        const Unpacked out = unpack(archive);
        if (out.status != UnpackStatus::Ok) {
            EXPECT_STRNE(unpack_status_message(out.status), "") << path;
        }
        EXPECT_LE(out.bytes.size(), output_bound(archive.size())) << path;
    }
}

} // namespace
