#include "vorbis/vorbis_setup.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(VorbisSetupTest, IlogCountsSignificantBits) {
    const int expected[16] = {0, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4};
    for (uint32_t v = 0; v < 16; ++v)
        EXPECT_EQ(ilog(v), expected[v]) << v;
    EXPECT_EQ(ilog(85), 7);
    EXPECT_EQ(ilog(0xFFFFFFFFu), 32);
}

TEST(VorbisSetupTest, ReleaseFreesEveryTableAndRestoresTheStartValues) {
    VorbisSetup setup;
    setup.channels = 2;
    setup.blocksize = {256, 2048};
    setup.codebook_count = 1;
    setup.codebooks.resize(1);
    setup.codebooks[0].codeword_lengths.assign(100, 3);
    setup.codebooks[0].value_table.assign(50, 1);
    setup.floors.assign(2, Floor1{});
    setup.residues.resize(1);
    setup.residues[0].class_digits.assign(64, 1);
    setup.residues[0].books.assign(4, {});
    setup.mappings.resize(1);
    setup.mappings[0].channel.assign(2, MappingChannel{});
    setup.max_partition_slots = 40;
    setup.partition_scratch.assign(80, 0);
    setup.channel_spectrum[1].assign(1024, 0);
    setup.channel_floor_y[0].assign(65, 0);
    setup.packet_scratch.assign(kPacketScratchBytes, 0);
    setup.mode_count = 2;
    setup.modes[1].blockflag = 1;

    release_vorbis_setup(setup);
    EXPECT_EQ(setup.channels, 0);
    EXPECT_EQ(setup.blocksize[1], 0);
    EXPECT_TRUE(setup.codebooks.empty());
    EXPECT_EQ(setup.codebooks.capacity(), 0u);
    EXPECT_TRUE(setup.floors.empty());
    EXPECT_TRUE(setup.residues.empty());
    EXPECT_TRUE(setup.mappings.empty());
    EXPECT_EQ(setup.partition_scratch.capacity(), 0u);
    EXPECT_EQ(setup.channel_spectrum[1].capacity(), 0u);
    EXPECT_EQ(setup.channel_floor_y[0].capacity(), 0u);
    EXPECT_EQ(setup.packet_scratch.capacity(), 0u);
    EXPECT_EQ(setup.max_partition_slots, 1u);
    EXPECT_EQ(setup.modes[1].blockflag, 0);
}

TEST(VorbisSetupTest, PartitionClassesOfEachChannelAreSeparate) {
    VorbisSetup setup;
    setup.channels = 3;
    setup.max_partition_slots = 5;
    setup.partition_scratch.assign(15, 0);
    partition_classes(setup, 2)[4] = 9;
    partition_classes(setup, 1)[0] = 7;
    EXPECT_EQ(setup.partition_scratch[14], 9);
    EXPECT_EQ(setup.partition_scratch[5], 7);
}

TEST(VorbisSetupTest, AllocationFailureIsReportedNotThrown) {
    std::vector<uint32_t> table;
    EXPECT_FALSE(allocate_table(table, std::numeric_limits<size_t>::max() / 2));
    EXPECT_TRUE(allocate_table(table, 10, 7u));
    EXPECT_EQ(table, std::vector<uint32_t>(10, 7u));
}

} // namespace
