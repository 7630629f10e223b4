#include "ogg/page_layer.h"
#include "vorbis/field_coders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

// A packet held flat in memory (no segment or page boundaries), and everything a field coder touches.
struct FieldRig {
    std::unique_ptr<ModelArea> models = std::make_unique<ModelArea>();
    std::vector<uint16_t> probs = std::vector<uint16_t>(9000, kProbInit);
    std::vector<uint8_t> packet;
    StreamContext ctx;

    explicit FieldRig(std::vector<uint8_t> bytes) : packet(std::move(bytes)) {
        reset_models(*models, kModelAreaRecords);
        ctx.models = models.get();
        ctx.packet_probs = probs.data();
        ctx.page_start = ctx.out_cursor = packet.data();
        ctx.packet_first_byte = packet.data();
        ctx.segment_end = ctx.page_limit = packet.data() + packet.size();
        ctx.original_page_end = ctx.segment_end;
    }
};

using Script =
    std::function<std::vector<int64_t>(StreamContext&, ModelArea&, bool packing_direction, void* dir)>;

// Runs one list of coder calls in either direction; `dir` is the Packing or Unpacking object.
template <class Dir> std::vector<int64_t> run(const Script& script, FieldRig& rig, Dir& d) {
    return script(rig.ctx, *rig.models, Dir::packing, &d);
}

struct RoundTrip {
    std::vector<int64_t> packed_values, unpacked_values;
    std::vector<uint8_t> rebuilt;
    bool inexpressible = false;
    bool models_equal = false;
    bool probs_equal = false;
};

// Packs `original` with the script, restores it from the archive bytes, and compares.
RoundTrip round_trip(const std::vector<uint8_t>& original, const Script& script) {
    RoundTrip r;
    FieldRig packer(original);
    RangeEncoder enc;
    Packing pk{&enc};
    r.packed_values = run(script, packer, pk);
    flush_encoder(enc);
    r.inexpressible = packer.ctx.inexpressible;

    FieldRig unpacker(std::vector<uint8_t>(original.size(), 0));
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    Unpacking up{&dec};
    r.unpacked_values = run(script, unpacker, up);
    r.rebuilt = unpacker.packet;
    r.models_equal = std::memcmp(packer.models.get(), unpacker.models.get(), sizeof(ModelArea)) == 0;
    r.probs_equal = packer.probs == unpacker.probs;
    return r;
}

// Writes fields LSB first, the way an Ogg packet holds them.
struct BitPacker {
    std::vector<uint8_t> bytes;
    size_t bit = 0;
    void put(uint64_t value, int n) {
        for (int i = 0; i < n; ++i, ++bit) {
            if (bit / 8 >= bytes.size()) bytes.push_back(0);
            if ((value >> i) & 1) bytes[bit / 8] = static_cast<uint8_t>(bytes[bit / 8] | (1u << (bit % 8)));
        }
    }
};

#define DIR_CALL(call)                                                                                       \
    (packing ? static_cast<int64_t>([&](Packing& d) { return call; }(*static_cast<Packing*>(dir)))           \
             : static_cast<int64_t>([&](Unpacking& d) { return call; }(*static_cast<Unpacking*>(dir))))

void expect_round_trip(const RoundTrip& r, const std::vector<uint8_t>& original) {
    EXPECT_FALSE(r.inexpressible);
    EXPECT_EQ(r.rebuilt, original);
    EXPECT_EQ(r.packed_values, r.unpacked_values);
    EXPECT_TRUE(r.models_equal);
    EXPECT_TRUE(r.probs_equal);
}

TEST(ValueCodeTest, EveryBitFieldShapeRoundTripsRandomAndEdgeValues) {
    std::mt19937 rng(7);
    struct Field {
        int coder;
        int n_bits;
        uint32_t value;
    };
    // Values per coder within what the shape can carry from any previous value of the same field.
    std::vector<Field> fields;
    auto add = [&](int coder, int n, uint32_t v) { fields.push_back({coder, n, v}); };
    for (int i = 0; i < 400; ++i) {
        add(0, 8, rng() & 0xFF);      // c3m3, 8 bits, per-class, order 1
        add(1, 6, rng() & 0x3F);      // c3m1
        add(2, 3, rng() & 7);         // c2m0
        add(3, 4, rng() & 0xF);       // c2m1
        add(4, 16, rng() & 0xFFFF);   // c4m3
        add(5, 16, rng() & 0xFFFF);   // c4m3s2
        add(6, 24, rng() & 0xFFFF);   // c4p0 (deltas within 16 bits)
        add(7, 5, rng() & 0x1F);      // count c3p3
        add(8, 12, rng() & 0xFFF);    // count c4p3
        add(9, 24, rng() & 0xFFFFFF); // count c5p5
        add(10, 32, rng());           // c3m3, 32 bits, order 0: least magnitude mod 2^32 must fit 255
        add(11, 8, rng() & 0xFF);     // c3m3 order 2
    }
    // Adversarial: zero deltas, magnitude 1, the largest magnitude of each class width.
    for (int c : {0, 1, 4, 5, 11}) {
        add(c, c == 1 ? 6 : c >= 4 && c <= 5 ? 16 : 8, 0);
        add(c, c == 1 ? 6 : c >= 4 && c <= 5 ? 16 : 8, 0);
        add(c, c == 1 ? 6 : c >= 4 && c <= 5 ? 16 : 8, 1);
    }
    add(0, 8, 255), add(0, 8, 0), add(0, 8, 255);
    add(4, 16, 0), add(4, 16, 65535), add(4, 16, 0);
    add(9, 24, 0xFFFFFF), add(9, 24, 0);
    add(8, 12, 0), add(7, 5, 31);
    for (Field& f : fields)
        if (f.coder == 10) f.value = static_cast<uint32_t>(static_cast<int32_t>(f.value % 511) - 255);

    BitPacker bits;
    for (const Field& f : fields)
        bits.put(f.value, f.n_bits);
    const std::vector<uint8_t> original = bits.bytes;

    const Script script = [&](StreamContext& ctx, ModelArea& m, bool packing, void* dir) {
        std::vector<int64_t> values;
        for (const Field& f : fields) {
            int64_t v = 0;
            switch (f.coder) {
            case 0:
                v = DIR_CALL(code_value_c3m3(d, ctx, f.n_bits, m[16], true, 1));
                break;
            case 1:
                v = DIR_CALL(code_value_c3m1(d, ctx, f.n_bits, m[24]));
                break;
            case 2:
                v = DIR_CALL(code_value_c2m0(d, ctx, f.n_bits, m[41]));
                break;
            case 3:
                v = DIR_CALL(code_value_c2m1(d, ctx, m[22], true));
                break;
            case 4:
                v = DIR_CALL(code_value_c4m3(d, ctx, f.n_bits, m[30]));
                break;
            case 5:
                v = DIR_CALL(code_value_c4m3s2(d, ctx, m[17]));
                break;
            case 6:
                v = DIR_CALL(code_value_c4p0(d, ctx, m[34]));
                break;
            case 7:
                v = DIR_CALL(code_count_c3p3(d, ctx, m[19]));
                break;
            case 8:
                v = DIR_CALL(code_count_c4p3(d, ctx, f.n_bits, m[20]));
                break;
            case 9:
                v = DIR_CALL(code_count_c5p5(d, ctx, m[18]));
                break;
            case 10:
                v = DIR_CALL(code_value_c3m3(d, ctx, f.n_bits, m[25], false, 0));
                break;
            case 11:
                v = DIR_CALL(code_value_c3m3(d, ctx, f.n_bits, m[37], true, 2));
                break;
            }
            values.push_back(v);
        }
        return values;
    };
    const RoundTrip r = round_trip(original, script);
    expect_round_trip(r, original);
    // Fields read back exactly: each returned value equals its field (the header parse sees the field).
    for (size_t i = 0; i < fields.size(); ++i) {
        const uint32_t mask = fields[i].n_bits >= 32 ? 0xFFFFFFFFu : (1u << fields[i].n_bits) - 1u;
        EXPECT_EQ(static_cast<uint32_t>(r.unpacked_values[i]) & mask, fields[i].value) << "field " << i;
    }
}

TEST(ValueCodeTest, ByteAlignedCodersRoundTripIncludingMinimumWord) {
    std::vector<uint8_t> original;
    const std::vector<uint32_t> words = {44100,       0,      0x80000000u, 0x80000000u,
                                         0x7FFFFFFFu, 128000, 1,           0xFFFFFFFFu};
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            original.push_back(static_cast<uint8_t>(w >> (8 * i)));
    const std::vector<uint8_t> small = {2, 2, 1, 8, 0, 15, 3, 0};
    const std::vector<uint8_t> blocks = {0xB8, 0xB8, 0x01, 0x00, 0xFF, 0x01};
    original.insert(original.end(), small.begin(), small.end());
    original.insert(original.end(), blocks.begin(), blocks.end());

    const Script script = [&](StreamContext& ctx, ModelArea& m, bool packing, void* dir) {
        std::vector<int64_t> values;
        for (size_t i = 0; i < words.size(); ++i)
            values.push_back(DIR_CALL(code_word_c5m3(d, ctx, m[10])));
        for (size_t i = 0; i < small.size(); ++i)
            values.push_back(DIR_CALL(code_byte_c2m0(d, ctx, m[9])));
        for (size_t i = 0; i < blocks.size(); ++i)
            values.push_back(DIR_CALL(code_byte_c3m3(d, ctx, m[14])));
        return values;
    };
    const RoundTrip r = round_trip(original, script);
    expect_round_trip(r, original);
}

TEST(ValueCodeTest, MinimumDeltaReachesClass32AndSharesMantissaEntries) {
    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    ValueModel& m = (*models)[10];
    RangeEncoder enc;
    Packing pk{&enc};
    // -2^31 from a last value of 0: magnitude 2^31, class 31.
    EXPECT_EQ(code_delta<ShapeC5M3>(pk, m, false, INT32_MIN), INT32_MIN);
    EXPECT_EQ(m.last_class, 32);
    // The next class tree sits on entries 1045..1075, the mantissa entries of the same model.
    std::vector<uint16_t> before(m.probs + 1044, m.probs + 1076);
    code_delta<ShapeC5M3>(pk, m, false, 3); // class 1: tree nodes only, then one mantissa bit
    std::vector<uint16_t> after(m.probs + 1044, m.probs + 1076);
    EXPECT_NE(before, after);
    EXPECT_EQ(m.probs[1044], kProbInit) << "entry 1044 is node 0 of the shared tree, never used";
    flush_encoder(enc);

    // The unpacker reads the same decisions through the same shared entries.
    auto models2 = std::make_unique<ModelArea>();
    reset_models(*models2, kModelAreaRecords);
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    Unpacking up{&dec};
    EXPECT_EQ(code_delta<ShapeC5M3>(up, (*models2)[10], false, 0), INT32_MIN);
    EXPECT_EQ(code_delta<ShapeC5M3>(up, (*models2)[10], false, 0), 3);
    EXPECT_EQ(std::memcmp(&m, &(*models2)[10], sizeof(ValueModel)), 0);
}

TEST(ValueCodeTest, ZeroDeltaCostsOneDecisionAndKeepsSign) {
    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    ValueModel& m = (*models)[24];
    m.last_value = 42;
    m.sign_history = 1;
    m.last_class = 3;
    RangeEncoder enc;
    Packing pk{&enc};
    EXPECT_EQ(apply_predictor(m, 1, code_delta<ShapeC3M1>(pk, m, false, 0)), 42);
    EXPECT_EQ(m.last_class, 0);
    EXPECT_EQ(m.sign_history, 1);
    EXPECT_EQ(m.zero_history, 0);
    EXPECT_NE(m.probs[0], kProbInit);
    for (int i = 1; i < kValueModelProbs; ++i)
        ASSERT_EQ(m.probs[i], kProbInit) << i;
    // Magnitude 1: class 0, no mantissa bit; last_class 1.
    EXPECT_EQ(code_delta<ShapeC3M1>(pk, m, false, -1), -1);
    EXPECT_EQ(m.last_class, 1);
    EXPECT_EQ(m.sign_history, 1);
    for (int i = 1044; i < kValueModelProbs; ++i)
        ASSERT_EQ(m.probs[i], kProbInit) << i;
}

TEST(ValueCodeTest, OrderTwoMovesLastDeltaFirstAndOrderOneLeavesIt) {
    ValueModel m{};
    reset_model(m);
    m.last_value = 100;
    m.last_delta = 5;
    EXPECT_EQ(apply_predictor(m, 2, 3), 108);
    EXPECT_EQ(m.last_delta, 8);
    EXPECT_EQ(m.last_value, 108);
    EXPECT_EQ(apply_predictor(m, 1, -8), 100);
    EXPECT_EQ(m.last_delta, 8);
    EXPECT_EQ(apply_predictor(m, 0, 7), 7);
    EXPECT_EQ(m.last_value, 100);
}

TEST(ValueCodeTest, FieldWidthsZeroAndThirtyTwo) {
    // n_bits 0 writes nothing but still codes a value; n_bits 32 writes all 32 bits.
    FieldRig rig(std::vector<uint8_t>(8, 0));
    RangeEncoder enc;
    Packing pk{&enc};
    ValueModel& m = (*rig.models)[16];
    code_delta<ShapeC3M3>(pk, m, false, 200);
    code_delta<ShapeC3M3>(pk, m, false, -1);
    flush_encoder(enc);
    reset_model(m);
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    Unpacking up{&dec};
    EXPECT_EQ(code_value_c3m3(up, rig.ctx, 0, m, false, 1), 200);
    EXPECT_EQ(rig.ctx.out_cursor, rig.packet.data());
    EXPECT_EQ(rig.ctx.bit_pos, 0);
    EXPECT_EQ(code_value_c3m3(up, rig.ctx, 32, m, false, 1), 199);
    EXPECT_EQ(rig.packet[0], 199);
    EXPECT_EQ(rig.packet[1], 0);
    EXPECT_EQ(rig.ctx.bit_pos, 8);
    EXPECT_EQ(rig.ctx.out_cursor, rig.packet.data() + 3);
}

TEST(ValueCodeTest, PackingFlagsWhatTheShapeCannotCarry) {
    {
        FieldRig rig({100, 0}); // an 8-bit field of 100 under a 2-bit class tree (at most 15)
        RangeEncoder enc;
        Packing pk{&enc};
        code_value_c2m0(pk, rig.ctx, 8, (*rig.models)[41]);
        EXPECT_TRUE(rig.ctx.inexpressible);
    }
    {
        FieldRig rig({2, 0}); // 2 after 250 is 8 further within 8 bits: expressible, value 258
        RangeEncoder enc;
        Packing pk{&enc};
        (*rig.models)[41].last_value = 250;
        EXPECT_EQ(code_value_c2m0(pk, rig.ctx, 8, (*rig.models)[41]), 258);
        EXPECT_FALSE(rig.ctx.inexpressible);
    }
    {
        FieldRig rig({2, 0}); // a flag field holding 2
        RangeEncoder enc;
        Packing pk{&enc};
        code_flag_field(pk, rig.ctx, 8728, 2);
        EXPECT_TRUE(rig.ctx.inexpressible);
    }
}

TEST(HeaderSlotCoderTest, FlagsTreesAndTextRoundTrip) {
    std::mt19937 rng(3);
    BitPacker bits;
    std::vector<uint32_t> flags, tree2, tree3, tree4;
    for (int i = 0; i < 200; ++i) {
        flags.push_back(rng() & 1), tree2.push_back(rng() & 3), tree3.push_back(rng() & 7),
            tree4.push_back(rng() & 15);
        bits.put(flags.back(), 16); // a flag written as a 16-bit field
        bits.put(tree2.back(), 16);
        bits.put(tree3.back(), 3);
        bits.put(tree4.back(), 4);
        bits.put(flags.back(), 1);
        bits.put(tree2.back(), 2);
    }
    while (bits.bit % 8)
        bits.put(0, 1);
    const std::string text = "\x03vorbis Xiph.Org libVorbis I 20200704, ENCODER=talvo test";
    for (char c : text)
        bits.put(static_cast<uint8_t>(c), 8);
    const std::vector<uint8_t> original = bits.bytes;
    const size_t text_start = original.size() - text.size();

    const Script script = [&](StreamContext& ctx, ModelArea&, bool packing, void* dir) {
        std::vector<int64_t> v;
        for (int i = 0; i < 200; ++i) {
            v.push_back(DIR_CALL(code_flag_field(d, ctx, 8742, 16)));
            v.push_back(DIR_CALL(code_tree2_field(d, ctx, 8776, 16)));
            v.push_back(DIR_CALL(code_tree_field(d, ctx, kFloorClassDimensionsTree, 3)));
            v.push_back(DIR_CALL(code_tree_field(d, ctx, kFloorRangeBitsTree, 4)));
            v.push_back(DIR_CALL(code_flag_field(d, ctx, 8728, 1)));
            v.push_back(DIR_CALL(code_tree2_field(d, ctx, 8736, 2)));
        }
        ctx.out_cursor = ctx.page_start + text_start;
        ctx.bit_pos = 0;
        int previous = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            const int64_t byte = DIR_CALL(code_text_byte(d, ctx, 4632 + 256 * (previous >> 4)));
            previous = static_cast<int>(byte);
            v.push_back(byte);
        }
        return v;
    };
    const RoundTrip r = round_trip(original, script);
    expect_round_trip(r, original);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(r.unpacked_values[6 * i], flags[i]);
        EXPECT_EQ(r.unpacked_values[6 * i + 1], tree2[i]);
        EXPECT_EQ(r.unpacked_values[6 * i + 2], tree3[i]);
        EXPECT_EQ(r.unpacked_values[6 * i + 3], tree4[i]);
    }
}

TEST(FloatFieldTest, CodebookFloatsRoundTrip) {
    std::mt19937 rng(11);
    BitPacker bits;
    std::vector<uint32_t> words;
    for (int i = 0; i < 300; ++i) {
        uint32_t w = rng();
        if (i % 3 == 0) w = 0x60000000u | (rng() & 0x1FFFFF); // typical: exponent around 768
        words.push_back(w);
        bits.put(w, 32);
    }
    const Script script = [&](StreamContext& ctx, ModelArea&, bool packing, void* dir) {
        std::vector<int64_t> v;
        for (size_t i = 0; i < words.size(); ++i) {
            float f = packing ? code_float_field(*static_cast<Packing*>(dir), ctx, static_cast<int>(i & 1))
                              : code_float_field(*static_cast<Unpacking*>(dir), ctx, static_cast<int>(i & 1));
            uint32_t raw;
            std::memcpy(&raw, &f, 4);
            v.push_back(raw);
        }
        return v;
    };
    const RoundTrip r = round_trip(bits.bytes, script);
    expect_round_trip(r, bits.bytes);
}

TEST(FloatFieldTest, MantissaCarriesIntoExponent) {
    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    std::vector<uint16_t> probs(9000, kProbInit);
    RangeEncoder enc;
    Packing pk{&enc};
    pk.bit(probs[kFloatSignProbs], 0);
    code_delta<ShapeFloatExponent>(pk, (*models)[kModelFloatExponent], false, 5);
    code_delta<ShapeFloatMantissa>(pk, (*models)[kModelFloatMantissa], false, (1 << 21) + 3);
    flush_encoder(enc);

    reset_models(*models, kModelAreaRecords);
    std::fill(probs.begin(), probs.end(), kProbInit);
    FieldRig rig(std::vector<uint8_t>(8, 0));
    rig.ctx.models = models.get();
    rig.ctx.packet_probs = probs.data();
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    Unpacking up{&dec};
    const float f = code_float_field(up, rig.ctx, 0);
    const uint32_t word = (6u << 21) + 3u;
    EXPECT_EQ(rig.packet[0] | rig.packet[1] << 8 | rig.packet[2] << 16 |
                  static_cast<uint32_t>(rig.packet[3]) << 24,
              word);
    EXPECT_EQ(f, unpack_float32(word));
    EXPECT_EQ(f, static_cast<float>(3.0 * std::pow(2.0, 6 - 788)));
}

TEST(FloatFieldTest, UnpackingAgreesWithScaledMantissa) {
    std::mt19937 rng(5);
    for (int i = 0; i < 100000; ++i) {
        const uint32_t w = rng();
        const double mantissa = static_cast<double>(w & 0x1FFFFF) * ((w >> 31) ? -1.0 : 1.0);
        const int exponent = static_cast<int>((w >> 21) & 0x3FF) - 788;
        const float expected = static_cast<float>(mantissa * std::pow(2.0, exponent));
        const float got = unpack_float32(w);
        ASSERT_TRUE(got == expected || (std::isnan(got) && std::isnan(expected))) << std::hex << w;
        ASSERT_EQ(got, static_cast<float>(std::ldexp(static_cast<float>(mantissa), exponent)))
            << std::hex << w;
    }
    EXPECT_EQ(unpack_float32((788u + 1u) << 21 | 1u), 2.0f);
    EXPECT_EQ(unpack_float32(0x80000000u | (788u << 21) | 5u), -5.0f);
}

TEST(ReplayModeTest, CodersReturnRawBitsAndLeaveModelsAlone) {
    // One stored page holding one packet of 16 bytes.
    std::vector<uint8_t> page = {'O', 'g', 'g', 'S', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 1,   0,   0,   0,   2, 0, 0, 0, 0, 0, 0, 0, 1, 16};
    BitPacker bits;
    bits.put(0xFFFF, 16);     // c4m3s2: raw 65535, not -1
    bits.put(0x1ABCDEF, 25);  // c3m3 of 25 bits: read as 24 + 1
    bits.put(1, 1);           // flag
    bits.put(0x3F800000, 32); // float 1.0 in Vorbis packing? (raw word, unpacked)
    bits.put(5, 3);           // tree3
    while (bits.bytes.size() < 16)
        bits.put(0, 8);
    page.insert(page.end(), bits.bytes.begin(), bits.bytes.end());

    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    (*models)[17].last_value = 77;
    auto snapshot = std::make_unique<ModelArea>(*models);
    std::vector<uint16_t> probs(9000, kProbInit);
    StreamContext ctx;
    ctx.models = models.get();
    ctx.packet_probs = probs.data();
    ctx.mode = CodingMode::Replay;
    ctx.segment_index = -1;
    load_replay(ctx, page.data(), static_cast<int32_t>(page.size()));
    ASSERT_TRUE(begin_packet<Unpacking>(ctx));
    RangeDecoder dec{}; // never touched in replay mode
    Unpacking up{&dec};
    EXPECT_EQ(code_value_c4m3s2(up, ctx, (*models)[17]), 65535);
    EXPECT_EQ(static_cast<uint32_t>(code_value_c3m3(up, ctx, 25, (*models)[16], true, 2)), 0x1ABCDEFu);
    EXPECT_EQ(code_flag_field(up, ctx, kBookOrderedFlag, 1), 1);
    EXPECT_EQ(code_float_field(up, ctx, 0), unpack_float32(0x3F800000));
    EXPECT_EQ(code_tree_field(up, ctx, kFloorClassDimensionsTree, 3), 5);
    EXPECT_EQ(std::memcmp(models.get(), snapshot.get(), sizeof(ModelArea)), 0);
    EXPECT_TRUE(std::all_of(probs.begin(), probs.end(), [](uint16_t p) { return p == kProbInit; }));
    EXPECT_EQ(dec.cursor, nullptr);
    // The rest of the packet, then nothing: zero bits and the failed state.
    EXPECT_EQ(read_bits<Unpacking>(ctx, 8 * 16 - (16 + 25 + 1 + 32 + 3)), 0u);
    EXPECT_EQ(read_bits<Unpacking>(ctx, 1), 0u);
    EXPECT_EQ(ctx.bit_count, -1);
}

} // namespace
