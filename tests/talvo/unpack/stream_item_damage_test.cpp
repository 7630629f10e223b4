// Damaged archives of modelled streams: whatever the range decoders then produce (counts, lengths,
// book numbers, positions, tuple codes out of every range), the unpacker must refuse or restore
// something, never read or write outside its tables. Meant to run under the sanitizers too.

#include "ogg_samples.h"

#include "ogg/output_sink.h"
#include "pack/packer.h"
#include "unpack/unpacker.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

namespace {

TEST(DamagedStreamItemTest, FlippedAndCutArchivesNeverMisbehave) {
    if (!ogg_samples::encoders_available()) GTEST_SKIP() << "encoders not available in this build";
    // TALVO_DAMAGE_TRIALS raises the number of damaged archives per sample for a longer search.
    const char* env = std::getenv("TALVO_DAMAGE_TRIALS");
    const int trials = env ? std::max(1, std::atoi(env)) : 60;
    std::mt19937 rng(env ? static_cast<unsigned>(std::atoi(env)) : 2024u);
    for (const char* name : {"q0_mono_8k", "q3_surround51_48k", "ffmpeg_native_stereo_44k"}) {
        const auto input = ogg_samples::read_file(ogg_samples::sample_path(name));
        ASSERT_FALSE(input.empty());
        std::vector<uint8_t> archive;
        ASSERT_EQ(pack_archive(input.data(), input.size(), archive), PackStatus::Ok);
        int restored_exactly = 0;
        for (int trial = 0; trial < trials; ++trial) {
            std::vector<uint8_t> damaged = archive;
            if (trial % 5 == 4) {
                damaged.resize(8 + rng() % (damaged.size() - 8));
            } else {
                for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips)
                    damaged[8 + rng() % (damaged.size() - 8)] ^= static_cast<uint8_t>(1 + rng() % 255);
            }
            std::vector<uint8_t> out;
            OutputSink sink = vector_sink(out);
            const UnpackStatus status =
                unpack_archive(ArchiveInput{nullptr, damaged.data(), damaged.size()}, sink);
            restored_exactly += status == UnpackStatus::Ok && out == input;
            EXPECT_LE(out.size(), 64 * input.size() + 65536) << name << " trial " << trial;
        }
        EXPECT_LT(restored_exactly, trials) << "damage must show somewhere";
    }
}

} // namespace
