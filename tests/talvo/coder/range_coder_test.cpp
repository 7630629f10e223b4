#include "coder/bit_direction.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

TEST(RangeDecoderTest, ProbabilitySequences) {
    std::vector<uint8_t> zeros(16, 0x00), ones(16, 0xFF);
    RangeDecoder dec;
    init_decoder(dec, zeros.data(), 16);
    uint16_t p = kProbInit;
    EXPECT_EQ(decode_bit(dec, p), 0);
    EXPECT_EQ(probability_of(p), 0x81FFu);
    EXPECT_EQ(decode_bit(dec, p), 0);
    EXPECT_EQ(probability_of(p), 0x83F7u);
    init_decoder(dec, ones.data(), 16);
    p = kProbInit;
    EXPECT_EQ(decode_bit(dec, p), 1);
    EXPECT_EQ(probability_of(p), 0x7E00u);
    EXPECT_EQ(decode_bit(dec, p), 1);
    EXPECT_EQ(probability_of(p), 0x7C08u);
}

TEST(RangeDecoderTest, ProbabilitiesStayWithinBounds) {
    uint16_t low = kProbInit, high = kProbInit;
    for (int i = 0; i < 2000; ++i) {
        RangeEncoder enc;
        encode_bit(enc, high, 0);
        encode_bit(enc, low, 1);
    }
    EXPECT_EQ(probability_of(high), 65472u);
    EXPECT_EQ(probability_of(low), 63u);
}

TEST(RangeCoderTest, RandomBitsRoundTripUnderSkewedContexts) {
    std::mt19937 rng(12345);
    const int n = 200000;
    std::vector<int> bits(n), ctx(n);
    for (int i = 0; i < n; ++i) {
        ctx[i] = rng() % 8;
        bits[i] = (rng() % 100) < static_cast<unsigned>(ctx[i] * 12) ? 1 : 0;
    }
    RangeEncoder enc;
    Packing pk{&enc};
    std::vector<uint16_t> probs(8, kProbInit);
    for (int i = 0; i < n; ++i)
        pk.bit(probs[ctx[i]], bits[i]);
    flush_encoder(enc);

    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    Unpacking up{&dec};
    std::vector<uint16_t> dprobs(8, kProbInit);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(up.bit(dprobs[ctx[i]], 0), bits[i]) << "bit " << i;
    EXPECT_EQ(dprobs, probs);
    EXPECT_EQ(dec.overrun, 0);
}

// The local form keeps its low end in a register and writes most bytes inline: over runs long enough
// for carries and held 0xFF bytes, it must write exactly what encode_bit writes.
TEST(RangeCoderTest, LocalEncoderWritesTheBytesOfEncodeBit) {
    std::mt19937 rng(777);
    const int n = 300000;
    std::vector<int> bits(n), ctx(n);
    for (int i = 0; i < n; ++i) {
        ctx[i] = rng() % 8;
        bits[i] = (rng() % 100) < static_cast<unsigned>(ctx[i] * 14) ? 1 : 0;
    }
    RangeEncoder plain, local_home;
    std::vector<uint16_t> plain_probs(8, kProbInit), local_probs(8, kProbInit);
    for (int i = 0; i < n; ++i)
        encode_bit(plain, plain_probs[ctx[i]], bits[i]);
    for (int start = 0; start < n; start += 1000) {
        LocalEncoder local(local_home);
        for (int i = start; i < start + 1000 && i < n; ++i)
            local.bit(local_probs[ctx[i]], bits[i]);
        local.store();
    }
    flush_encoder(plain);
    flush_encoder(local_home);
    EXPECT_EQ(local_home.out, plain.out);
    EXPECT_EQ(local_probs, plain_probs);
}

TEST(RangeCoderTest, ShortStreamsRoundTrip) {
    for (int n = 0; n < 40; ++n) {
        RangeEncoder enc;
        uint16_t p = kProbInit;
        for (int i = 0; i < n; ++i)
            encode_bit(enc, p, (i * 7) % 3 == 0);
        flush_encoder(enc);
        RangeDecoder dec;
        init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
        uint16_t q = kProbInit;
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(decode_bit(dec, q), (i * 7) % 3 == 0) << n << ":" << i;
    }
}

// A sub-stream source over a byte vector that records every read.
struct VectorSource {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    std::vector<int32_t> reads;
    ByteSource source{this, is_exhausted, read};

    static bool is_exhausted(void* context) {
        auto* self = static_cast<VectorSource*>(context);
        return self->pos >= self->bytes.size();
    }
    static int32_t read(void* context, uint8_t* dst, int32_t n) {
        auto* self = static_cast<VectorSource*>(context);
        const auto k =
            static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(n), self->bytes.size() - self->pos));
        std::copy_n(self->bytes.begin() + static_cast<std::ptrdiff_t>(self->pos), k, dst);
        self->pos += static_cast<size_t>(k);
        self->reads.push_back(n);
        return k;
    }
};

TEST(RangeDecoderTest, LongRunsStopAtTheProbabilityBounds) {
    std::vector<uint8_t> zeros(4096, 0x00), ones(4096, 0xFF);
    RangeDecoder dec;
    init_decoder(dec, zeros.data(), static_cast<int32_t>(zeros.size()));
    uint16_t p = kProbInit;
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(decode_bit(dec, p), 0);
    EXPECT_EQ(probability_of(p), 65472u);
    init_decoder(dec, ones.data(), static_cast<int32_t>(ones.size()));
    p = kProbInit;
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(decode_bit(dec, p), 1);
    EXPECT_EQ(probability_of(p), 63u);
}

TEST(RangeDecoderTest, FiveByteBlockShiftsInItsLastByteAgainAndAgain) {
    const uint8_t block[5] = {0x11, 0x22, 0x33, 0x44, 0x55};
    RangeDecoder dec;
    init_decoder(dec, block, 5);
    EXPECT_EQ(dec.code, 0x11223344u);
    EXPECT_EQ(dec.range, 0xFFFFFFFFu);
    EXPECT_EQ(dec.cursor, block + 4);
    for (int i = 0; i < 6; ++i) {
        decoder_shift_in(dec);
        EXPECT_EQ(dec.code & 0xFF, 0x55u);
        EXPECT_EQ(dec.cursor, block + 4);
    }
    EXPECT_EQ(dec.code, 0x55555555u);
    EXPECT_EQ(dec.overrun, 5);
}

TEST(RangeDecoderTest, BlocksOfFourBytesOrFewerShiftInZeros) {
    const uint8_t block[4] = {0xA1, 0xB2, 0xC3, 0xD4};
    for (int32_t length = 0; length <= 4; ++length) {
        RangeDecoder dec;
        init_decoder(dec, block, length);
        uint32_t expected = 0;
        for (int i = 0; i < 4; ++i)
            expected = (expected << 8) | (i < length ? block[i] : 0u);
        EXPECT_EQ(dec.code, expected) << length;
        decoder_shift_in(dec);
        decoder_shift_in(dec);
        EXPECT_EQ(dec.code, expected << 16) << length;
    }
}

TEST(RangeDecoderTest, NormalisationComesBeforeTheBit) {
    // A range just below 2^24 is normalised before the bound is computed.
    const uint8_t block[8] = {0, 0, 0, 0, 0x80, 0, 0, 0};
    RangeDecoder dec;
    init_decoder(dec, block, 8);
    dec.range = 0x00FFFFFF;
    uint16_t p = kProbInit;
    decode_bit(dec, p);
    EXPECT_EQ(dec.cursor, block + 5);
    EXPECT_EQ(dec.range, ((0xFFFFFF00u >> 16) * 0x8000u));
}

TEST(RangeDecoderTest, StreamedSubStreamTakesItsLastByteWhenTheFirstChunkIsUsedUp) {
    VectorSource src;
    src.bytes.resize(65537 + 100);
    for (size_t i = 0; i < src.bytes.size(); ++i)
        src.bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    std::vector<uint8_t> buffer(65536);
    RangeDecoder dec;
    init_streamed_decoder(dec, &src.source, buffer.data(), 65536, 65537);
    EXPECT_EQ(src.reads, std::vector<int32_t>({65536}));
    for (int i = 4; i < 65536; ++i)
        decoder_shift_in(dec);
    EXPECT_EQ(src.reads, std::vector<int32_t>({65536, 1}));
    EXPECT_EQ(src.pos, 65537u);
    decoder_shift_in(dec);
    EXPECT_EQ(dec.code & 0xFF, src.bytes[65536]);
    decoder_shift_in(dec);
    EXPECT_EQ(dec.code & 0xFF, src.bytes[65536]);
    EXPECT_EQ(src.pos, 65537u) << "nothing past the sub-stream is taken";
    EXPECT_EQ(dec.overrun, 1);
}

TEST(RangeDecoderTest, StreamedStartOverAnExhaustedSourceDecodesZeros) {
    VectorSource src; // empty: exhausted from the start
    std::vector<uint8_t> buffer(65536, 0xEE);
    RangeDecoder dec;
    init_streamed_decoder(dec, &src.source, buffer.data(), 65536, 1000);
    EXPECT_TRUE(src.reads.empty());
    EXPECT_EQ(dec.code, 0u);
    uint16_t p = kProbInit;
    EXPECT_EQ(decode_bit(dec, p), 0);
}

// Millions of decisions of every shape: random and skewed bits under many contexts, and bit trees of
// 1 to 8 bits side by side per context, through a streamed decoder with its 64 KiB refills.
TEST(RangeCoderTest, MillionsOfDecisionsRoundTripAcrossStreamedRefills) {
    std::mt19937 rng(2026);
    struct Decision {
        uint8_t kind, ctx, n;
        uint32_t value;
    };
    std::vector<Decision> decisions(3000000);
    for (auto& d : decisions) {
        d.kind = static_cast<uint8_t>(rng() % 3);
        d.ctx = static_cast<uint8_t>(rng() % 16);
        d.n = static_cast<uint8_t>(1 + rng() % 8);
        if (d.kind == 0) // random
            d.value = rng() & 1;
        else if (d.kind == 1) // skewed by context, from 1% to 46% ones
            d.value = (rng() % 100) < 1u + 3u * d.ctx ? 1 : 0;
        else // a tree value with a skewed distribution
            d.value = (rng() % (1u << d.n)) & (rng() % (1u << d.n));
    }
    auto fresh_models = [] { return std::vector<uint16_t>(16 * 2 + 16 * 9 * 256, kProbInit); };
    auto tree_base = [](const Decision& d) { return 32 + (d.ctx * 9 + d.n) * 256; };

    RangeEncoder enc;
    Packing pk{&enc};
    auto enc_models = fresh_models();
    for (const auto& d : decisions) {
        if (d.kind < 2)
            pk.bit(enc_models[d.kind * 16 + d.ctx], static_cast<int>(d.value));
        else
            pk.tree(&enc_models[static_cast<size_t>(tree_base(d))], d.n, d.value);
    }
    flush_encoder(enc);
    ASSERT_GT(enc.out.size(), 4u * 65536) << "the stream must span several refills";

    VectorSource src;
    src.bytes = enc.out;
    src.bytes.insert(src.bytes.end(), 64, 0xAB); // the next item's bytes must not be taken
    std::vector<uint8_t> buffer(65536);
    RangeDecoder dec;
    init_streamed_decoder(dec, &src.source, buffer.data(), 65536, static_cast<int32_t>(enc.out.size()));
    Unpacking up{&dec};
    auto dec_models = fresh_models();
    for (size_t i = 0; i < decisions.size(); ++i) {
        const auto& d = decisions[i];
        const uint32_t got = d.kind < 2 ? static_cast<uint32_t>(up.bit(dec_models[d.kind * 16 + d.ctx], 0))
                                        : up.tree(&dec_models[static_cast<size_t>(tree_base(d))], d.n, 0);
        ASSERT_EQ(got, d.value) << "decision " << i;
    }
    EXPECT_EQ(dec_models, enc_models);
    EXPECT_LE(src.pos, enc.out.size());
    EXPECT_EQ(dec.overrun, 0);
}

TEST(RangeCoderTest, TreeCodesMostSignificantBitFirstOverItsOwnNodes) {
    // A tree over probs[1 .. 2^n - 1] never touches probs[0] or anything past its last node.
    for (int n = 1; n <= 8; ++n) {
        std::vector<uint16_t> probs((1u << n) + 1, kProbInit);
        RangeEncoder enc;
        for (uint32_t v = 0; v < (1u << n); ++v)
            encode_tree(enc, probs.data(), n, v);
        EXPECT_EQ(probs[0], kProbInit);
        EXPECT_EQ(probs[1u << n], kProbInit);
        flush_encoder(enc);
        RangeDecoder dec;
        init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
        std::vector<uint16_t> dprobs((1u << n) + 1, kProbInit);
        for (uint32_t v = 0; v < (1u << n); ++v)
            ASSERT_EQ(decode_tree(dec, dprobs.data(), n), v);
        EXPECT_EQ(dprobs, probs);
    }
    // The first node decides the top bit: with node 1 pushed towards 1, a value >= 2^(n-1) is cheaper.
    std::vector<uint16_t> probs(16, kProbInit);
    probs[1] = stored_probability(63);
    RangeEncoder hi, lo;
    for (int i = 0; i < 50; ++i) {
        std::vector<uint16_t> a = probs, b = probs;
        encode_tree(hi, a.data(), 3, 4);
        encode_tree(lo, b.data(), 3, 3);
    }
    flush_encoder(hi);
    flush_encoder(lo);
    EXPECT_LT(hi.out.size(), lo.out.size());
}

} // namespace
