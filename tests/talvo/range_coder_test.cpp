#include "coder/bit_direction.h"

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
    EXPECT_EQ(p, 0x81FF);
    EXPECT_EQ(decode_bit(dec, p), 0);
    EXPECT_EQ(p, 0x83F7);
    init_decoder(dec, ones.data(), 16);
    p = kProbInit;
    EXPECT_EQ(decode_bit(dec, p), 1);
    EXPECT_EQ(p, 0x7E00);
    EXPECT_EQ(decode_bit(dec, p), 1);
    EXPECT_EQ(p, 0x7C08);
}

TEST(RangeDecoderTest, ProbabilitiesStayWithinBounds) {
    uint16_t low = kProbInit, high = kProbInit;
    for (int i = 0; i < 2000; ++i) {
        RangeEncoder enc;
        encode_bit(enc, high, 0);
        encode_bit(enc, low, 1);
    }
    EXPECT_EQ(high, 65472);
    EXPECT_EQ(low, 63);
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

} // namespace
