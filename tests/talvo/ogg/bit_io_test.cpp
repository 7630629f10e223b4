#include "ogg/bit_io.h"
#include "page_rig.h"

#include <gtest/gtest.h>

namespace {

// One open page whose lacing table is given, with its first packet begun (rebuild mode, unpacking).
struct OpenPage {
    PageRig rig;
    StreamContext& ctx = rig.ctx;
    uint8_t* first = nullptr;

    explicit OpenPage(std::vector<uint8_t> lacing) {
        open_page_buffer(ctx);
        ctx.segment_count = static_cast<int32_t>(lacing.size());
        std::copy(lacing.begin(), lacing.end(), ctx.lacing);
        int run = 0;
        for (uint8_t v : lacing) {
            run += v;
            if (v < 255) {
                ctx.packet_lengths[ctx.packet_count++] = static_cast<uint16_t>(run);
                run = 0;
            }
        }
        ctx.out_cursor = ctx.page_start + 27 + lacing.size();
        EXPECT_TRUE(begin_packet<Unpacking>(ctx));
        *ctx.out_cursor = 0;
        first = ctx.out_cursor;
    }
};

TEST(WriteBitsTest, ThreeBitsAtBitPositionSix) {
    OpenPage p({10});
    write_bits(p.ctx, 0, 6);
    write_bits(p.ctx, 0b101, 3);
    EXPECT_EQ(p.first[0], 0x40); // bits 6 and 7 take 1 and 0
    EXPECT_EQ(p.first[1], 0x01);
    EXPECT_EQ(p.ctx.bit_pos, 1);
    EXPECT_EQ(p.ctx.out_cursor, p.first + 1);
}

TEST(WriteBitsTest, EightSingleBitsFillTheByteWithoutLeavingIt) {
    OpenPage p({10});
    for (int i = 0; i < 8; ++i)
        write_bits(p.ctx, 1, 1);
    EXPECT_EQ(p.first[0], 0xFF);
    EXPECT_EQ(p.ctx.bit_pos, 8);
    EXPECT_EQ(p.ctx.out_cursor, p.first);
    p.first[1] = 0xEE; // a byte is stored whole when it is entered
    write_bits(p.ctx, 1, 1);
    EXPECT_EQ(p.ctx.out_cursor, p.first + 1);
    EXPECT_EQ(p.first[1], 0x01);
    EXPECT_EQ(p.ctx.bit_pos, 1);
}

TEST(WriteBitsTest, ThirtyTwoBitsFillFourBytes) {
    OpenPage p({10});
    write_bits(p.ctx, 0xFFFFFFFFu, 32);
    EXPECT_EQ(p.first[0] & p.first[1] & p.first[2] & p.first[3], 0xFF);
    EXPECT_EQ(p.ctx.bit_pos, 8);
    EXPECT_EQ(p.ctx.out_cursor, p.first + 3);
    write_bits(p.ctx, 0x12345678u, 32);
    EXPECT_EQ(read_le32(p.first + 4), 0x12345678u);
}

TEST(WriteBitsTest, BitsPastThePacketAreDroppedAndTheCursorRests) {
    OpenPage p({2, 5});
    write_bits(p.ctx, 0xABCDEF, 24);
    EXPECT_EQ(p.first[0], 0xEF);
    EXPECT_EQ(p.first[1], 0xCD);
    EXPECT_EQ(p.ctx.out_cursor, p.first + 2) << "one past the packet's last byte";
    EXPECT_EQ(p.ctx.bit_pos, 0) << "left unchanged";
    EXPECT_TRUE(p.ctx.packet_done);
    for (int i = 0; i < 3; ++i)
        write_bits(p.ctx, 0xFFFF, 16);
    EXPECT_EQ(p.ctx.out_cursor, p.first + 2) << "does not creep forward";
    EXPECT_EQ(p.ctx.segment_index, 1) << "the next packet's lacing value is untouched";
}

TEST(WriteBitsTest, SegmentBoundaryTakesTheNextLacingValue) {
    OpenPage p({255, 10, 4});
    for (int i = 0; i < 265; ++i)
        write_bits(p.ctx, static_cast<uint32_t>(i), 8);
    for (int i = 0; i < 265; ++i)
        ASSERT_EQ(p.first[i], static_cast<uint8_t>(i)) << i;
    EXPECT_EQ(p.ctx.segment_end, p.first + 265);
    EXPECT_TRUE(p.ctx.packet_done);
    write_bits(p.ctx, 0xFF, 8);
    EXPECT_EQ(p.ctx.out_cursor, p.first + 265);
    EXPECT_EQ(p.first[265], 0) << "the dropped byte is not written into the next packet";
}

// The one-store path (up to 24 bits, four bytes of the segment ahead) leaves the packet's bytes up to
// the cursor, and the writer's state, as the byte-by-byte path does: from every bit position, for every
// width it takes, near the end of a segment and away from it.
TEST(WriteBitsTest, OneStoreWritesAsTheBytewiseWriterDoes) {
    for (int room : {3, 4, 5, 9})
        for (int bit_pos = 0; bit_pos <= 8; ++bit_pos)
            for (int n = 1; n <= 24; ++n) {
                OpenPage fast({10, 6}), bytewise({10, 6});
                for (OpenPage* p : {&fast, &bytewise}) {
                    write_bits_bytewise(p->ctx, 0, 8 * (10 - room - 1)); // the byte under the cursor...
                    write_bits_bytewise(p->ctx, 0x5A, 8 + bit_pos);      // ...holds bit_pos bits
                }
                const uint32_t value = 0xDEADBEEFu * static_cast<uint32_t>(n) >> bit_pos;
                write_bits(fast.ctx, value, n);
                write_bits_bytewise(bytewise.ctx, value, n);
                const auto at = [](const OpenPage& p) { return p.ctx.out_cursor - p.first; };
                ASSERT_EQ(at(fast), at(bytewise)) << room << " " << bit_pos << " " << n;
                EXPECT_EQ(fast.ctx.bit_pos, bytewise.ctx.bit_pos);
                EXPECT_EQ(fast.ctx.segment_remaining, bytewise.ctx.segment_remaining);
                EXPECT_EQ(fast.ctx.packet_remaining, bytewise.ctx.packet_remaining);
                EXPECT_EQ(fast.ctx.segment_end, fast.first + 10);
                for (ptrdiff_t i = 0; i <= at(fast); ++i)
                    ASSERT_EQ(fast.first[i], bytewise.first[i])
                        << room << " " << bit_pos << " " << n << " " << i;
            }
}

// A writer held in locals tells the packet's last four bytes at every byte of it, one store or not, and
// hands back the state write_bits leaves.
TEST(WriteBitsTest, LocalWriterKnowsThePacketsLastBytes) {
    for (int width : {3, 8, 13}) {
        OpenPage local({7, 12}), plain({7, 12});
        LocalBitWriter writer(local.ctx);
        for (int i = 0; i < 12; ++i) {
            const uint32_t value = (0x9E3779B9u * static_cast<uint32_t>(i + 1)) >> (32 - width);
            ASSERT_EQ(writer.near_packet_end(), plain.ctx.packet_remaining <= 4) << width << " " << i;
            writer.write_codeword(value, width);
            write_bits(plain.ctx, value, width);
        }
        writer.store();
        EXPECT_EQ(local.ctx.out_cursor - local.first, plain.ctx.out_cursor - plain.first) << width;
        EXPECT_EQ(local.ctx.bit_pos, plain.ctx.bit_pos);
        EXPECT_EQ(local.ctx.segment_remaining, plain.ctx.segment_remaining);
        EXPECT_EQ(local.ctx.packet_remaining, plain.ctx.packet_remaining);
        for (int i = 0; i < 19; ++i)
            ASSERT_EQ(local.first[i], plain.first[i]) << width << " " << i;
    }
}

// Packs a stream with random-width bit reads, records what was read, and writes the same widths and
// values when restoring: write_bits and take_bits must walk the same bytes across segments and pages.
// Restored a second time with the packets' random widths written through a LocalBitWriter, handed back
// at random points, which must write the same bytes and tell the packet's last four bytes as the
// context's count does.
TEST(WriteBitsTest, PackingReaderMirrorsTheWriterAcrossSegmentsAndPages) {
    std::vector<PageLayout> layouts = {{2, 0, 1, 0, {30}},
                                       {0, 1, 1, 1, {1, 0, 255, 255}},
                                       {1, 2, 1, 2, {255, 255, 255, 255, 255, 255}},
                                       {1, 3, 1, 3, {17, 1, 255, 0, 200, 255}},
                                       {1 | 4, 4, 1, 4, {9, 1, 1, 1, 300 - 255}}};
    const auto bytes = build_stream(layouts, 21);
    std::vector<OggPage> pages;
    split_ogg_pages(bytes.data(), bytes.size(), pages);
    struct Call {
        int n;
        uint32_t value;
    };
    std::vector<Call> calls;
    auto run = [&]<class Dir>(PageRig& rig, bool local_writer) {
        constexpr bool packing = Dir::packing;
        size_t next = 0;
        std::mt19937 rng(77);
        std::mt19937 hand_back(5);
        auto transfer = [&](int n) {
            if (packing) {
                calls.push_back({n, take_bits(rig.ctx, n)});
            } else {
                ASSERT_EQ(calls[next].n, n);
                write_bits(rig.ctx, calls[next++].value, n);
            }
        };
        auto packet = [&]() {
            const int count = static_cast<int>(rng() % 60);
            if (local_writer) {
                LocalBitWriter writer(rig.ctx);
                for (int i = 0; i < count; ++i) {
                    const int n = static_cast<int>(rng() % 33);
                    ASSERT_EQ(calls[next].n, n);
                    // The context's count as of the last hand-back, less the bytes entered since.
                    const int32_t remaining =
                        rig.ctx.packet_remaining - static_cast<int32_t>(writer.cursor - rig.ctx.out_cursor);
                    ASSERT_EQ(writer.near_packet_end(), remaining <= 4) << remaining;
                    if (hand_back() % 4 == 0) writer.store();
                    writer.write_codeword(calls[next++].value, n);
                }
                writer.store();
            } else {
                for (int i = 0; i < count; ++i)
                    transfer(static_cast<int>(rng() % 33));
            }
            if (rig.ctx.bit_pos > 0 && rig.ctx.bit_pos < 8)
                transfer(8 - rig.ctx.bit_pos);      // the rest of the started byte
            while (enter_next_byte<Dir>(rig.ctx)) { // tail bytes are stored whole
                rig.ctx.bit_pos = 0;
                if (!packing) *rig.ctx.out_cursor = 0;
                transfer(8);
            }
        };
        ASSERT_TRUE(open_page<Dir>(rig.ctx, kOggFirstPage));
        ASSERT_TRUE(begin_packet<Dir>(rig.ctx));
        if (!packing) *rig.ctx.out_cursor = 0;
        packet();
        while (start_audio_packet<Dir>(rig.ctx))
            packet();
        EXPECT_TRUE(stream_complete(rig.ctx));
    };
    PageRig packer;
    RangeEncoder enc;
    set_original_pages(packer.ctx, pages.data(), static_cast<int32_t>(pages.size()), &enc);
    run.operator()<Packing>(packer, false);
    flush_encoder(enc);
    EXPECT_FALSE(packer.ctx.inexpressible);

    for (bool local_writer : {false, true}) {
        PageRig unpacker;
        std::vector<uint8_t> output;
        unpacker.ctx.output = vector_sink(output);
        open_page_buffer(unpacker.ctx);
        init_decoder(unpacker.ctx.page_decoder, enc.out.data(), static_cast<int32_t>(enc.out.size()));
        run.operator()<Unpacking>(unpacker, local_writer);
        ASSERT_EQ(output.size(), bytes.size()) << local_writer;
        for (size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(output[i], bytes[i]) << "byte " << i << ", local writer " << local_writer;
    }
}

// A stored page in the replay buffer, its first packet begun in replay mode.
struct ReplayPage {
    PageRig rig;
    StreamContext& ctx = rig.ctx;
    std::vector<uint8_t> page;
    explicit ReplayPage(const std::vector<uint8_t>& lacing) {
        std::mt19937 rng(5);
        page = build_page({0, 0, 1, 0, lacing}, rng);
        ctx.mode = CodingMode::Replay;
        ctx.segment_index = -1;
        load_replay(ctx, page.data(), static_cast<int32_t>(page.size()));
        EXPECT_TRUE(begin_packet<Unpacking>(ctx));
    }
    const uint8_t* payload() const { return page.data() + 27 + page[26]; }
};

TEST(ReadBitsTest, TwentyFiveBitsAreTwentyFourThenOne) {
    ReplayPage a({20}), b({20});
    read_bits<Unpacking>(a.ctx, 3), read_bits<Unpacking>(b.ctx, 3);
    const uint32_t whole = read_bits<Unpacking>(a.ctx, 25);
    const uint32_t low = read_bits<Unpacking>(b.ctx, 24);
    const uint32_t high = read_bits<Unpacking>(b.ctx, 1);
    EXPECT_EQ(whole, low + (high << 24));
    EXPECT_EQ(a.ctx.bit_count, b.ctx.bit_count);
    EXPECT_EQ(a.ctx.bit_buffer, b.ctx.bit_buffer);
    const uint32_t expected = (read_le32(a.payload()) >> 3) & 0x1FFFFFF;
    EXPECT_EQ(whole, expected);
}

TEST(ReadBitsTest, PacketEndingOn255ThenZero) {
    ReplayPage r({255, 0, 10});
    for (int i = 0; i < 255; ++i)
        ASSERT_EQ(read_bits<Unpacking>(r.ctx, 8), r.payload()[i]) << i;
    EXPECT_EQ(read_bits<Unpacking>(r.ctx, 1), 0u);
    EXPECT_EQ(r.ctx.bit_count, -1) << "the 0 ends the packet";
    EXPECT_EQ(read_bits<Unpacking>(r.ctx, 8), 0u);
    ASSERT_TRUE(begin_packet<Unpacking>(r.ctx));
    EXPECT_EQ(read_aligned_byte<Unpacking>(r.ctx), r.payload()[255]);
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(read_bits<Unpacking>(r.ctx, 8), r.payload()[255 + i]);
    EXPECT_EQ(read_aligned_byte<Unpacking>(r.ctx), -1);
    EXPECT_EQ(r.ctx.input_ended, 0);
}

TEST(ReadBitsTest, ReplayPastTheStoredPagesEndsTheInput) {
    // Without an archive to refill from, a continued packet finds no further page.
    ReplayPage r({255});
    for (int i = 0; i < 255; ++i)
        read_bits<Unpacking>(r.ctx, 8);
    EXPECT_EQ(read_bits<Unpacking>(r.ctx, 8), 0u);
    EXPECT_EQ(r.ctx.bit_count, -1);
    EXPECT_EQ(r.ctx.input_ended, 1);
    EXPECT_FALSE(start_audio_packet<Unpacking>(r.ctx));
}

} // namespace
