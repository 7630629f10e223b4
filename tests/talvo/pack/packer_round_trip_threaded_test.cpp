// The packer's archives through an independent in-memory unpack: random inputs of many sizes and item
// lengths, real encoder files, and the verification that must catch a damaged archive.

#include "pack/packer.h"
#include "random_bytes.h"
#include "sample_files.h"
#include "unpack/unpacker.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Restored {
    UnpackStatus status;
    std::vector<uint8_t> bytes;
};

Restored restore(const std::vector<uint8_t>& archive) {
    Restored out;
    out.status =
        unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, vector_sink(out.bytes));
    return out;
}

TEST(Packer, RandomInputsOfManySizesVerify) {
    std::mt19937 rng(12);
    for (size_t size : {0, 1, 63, 64, 5000, 1 << 20, (1 << 20) + 1, 3 << 20}) {
        const auto input = random_bytes(size, static_cast<uint32_t>(rng()));
        for (size_t max_item : {size_t{1} << 22, size_t{1000}, size_t{64}}) {
            if (size > 5000 && max_item < 1000) continue;
            std::vector<uint8_t> archive;
            PackOptions options;
            options.max_raw_item = max_item;
            ASSERT_EQ(pack_archive(input.data(), input.size(), archive, options), PackStatus::Ok) << size;
            const Restored out = restore(archive);
            EXPECT_EQ(out.status, UnpackStatus::Ok);
            EXPECT_EQ(out.bytes, input);
        }
    }
}

TEST(Packer, VerificationCatchesADamagedArchive) {
    const auto input = random_bytes(1000, 13);
    std::vector<uint8_t> archive;
    ASSERT_EQ(pack_archive(input.data(), input.size(), archive), PackStatus::Ok);
    EXPECT_TRUE(verify_archive(archive, input.data(), input.size()));
    auto damaged = archive;
    damaged[damaged.size() / 2] ^= 0x40;
    EXPECT_FALSE(verify_archive(damaged, input.data(), input.size()));
    EXPECT_FALSE(verify_archive(archive, input.data(), input.size() - 1));
}

TEST(Packer, RealEncoderFilesRoundTrip) {
    auto names = vorbis_sample_names();
    for (const char* extra : {"opus.ogg", "flac.ogg", "theora_vorbis.ogg", "chained.ogg"})
        names.push_back(extra);
    int tried = 0;
    for (const auto& name : names) {
        const auto input = load_sample(name);
        if (input.empty()) continue;
        ++tried;
        std::vector<uint8_t> archive;
        ASSERT_EQ(pack_archive(input.data(), input.size(), archive), PackStatus::Ok) << name;
        const Restored out = restore(archive);
        EXPECT_EQ(out.status, UnpackStatus::Ok) << name;
        EXPECT_EQ(out.bytes, input) << name;
    }
    if (tried == 0) GTEST_SKIP() << "no sample files in " << sample_path("");
}

} // namespace
