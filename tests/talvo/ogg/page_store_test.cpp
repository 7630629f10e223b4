#include "page_rig.h"

#include <gtest/gtest.h>

namespace {

struct Store {
    PageStore s;
    Store(size_t bytes = kHeaderStoreBytes, int32_t records = kStoreRecords) {
        store_create(s, bytes, records);
    }
    ~Store() { store_release(s); }
};

// The buffer moves as it grows; records hold offsets, so every one still finds its bytes.
TEST(PageStoreTest, RecordsSurviveTheBufferGrowing) {
    Store st(256, 4);
    std::vector<uint8_t> chunk(200);
    for (int i = 0; i < 10; ++i) {
        std::fill(chunk.begin(), chunk.end(), static_cast<uint8_t>(i));
        const int32_t offset = store_size(st.s);
        ASSERT_TRUE(store_append(st.s, chunk.data(), chunk.size()));
        store_add_record(st.s, offset, 200);
    }
    for (uint32_t k = 0; k < 10; ++k) {
        uint8_t* bytes = nullptr;
        int32_t length = 0;
        ASSERT_TRUE(store_lookup(st.s, k, bytes, length));
        EXPECT_EQ(length, 200);
        EXPECT_EQ(bytes[0], 9 - k);
        EXPECT_EQ(bytes[199], 9 - k);
    }
}

TEST(PageStoreTest, LookupNewestOldestAndBeyond) {
    Store st;
    const uint8_t data[3] = {1, 2, 3};
    for (int i = 0; i < 3; ++i) {
        store_append(st.s, data + i, 1);
        store_add_record(st.s, i, 1);
    }
    uint8_t* bytes = nullptr;
    int32_t length = 0;
    ASSERT_TRUE(store_lookup(st.s, 0, bytes, length));
    EXPECT_EQ(*bytes, 3);
    ASSERT_TRUE(store_lookup(st.s, 2, bytes, length));
    EXPECT_EQ(*bytes, 1);
    EXPECT_FALSE(store_lookup(st.s, 3, bytes, length));
    EXPECT_FALSE(store_lookup(st.s, 0xFFFFFFFFu, bytes, length));
}

TEST(PageStoreTest, IndexCodeRoundTripsAndUsesPerClassMantissa) {
    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    const std::vector<uint32_t> indices = {0, 0, 1, 2, 3, 7, 100, 0, 65536, 0xFFFFFFFFu, 5, 0};
    RangeEncoder enc;
    Packing pk{&enc};
    for (uint32_t k : indices)
        code_store_index(pk, (*models)[kModelStreamStoreIndex], k);
    flush_encoder(enc);
    // k = 3 is class 1: its single mantissa bit sits on p[1044 + 4 + 1].
    EXPECT_NE((*models)[kModelStreamStoreIndex].probs[1049], kProbInit);
    auto models2 = std::make_unique<ModelArea>();
    reset_models(*models2, kModelAreaRecords);
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    Unpacking up{&dec};
    for (uint32_t k : indices)
        EXPECT_EQ(code_store_index(up, (*models2)[kModelStreamStoreIndex]), k);
    EXPECT_EQ(std::memcmp(models.get(), models2.get(), sizeof(ModelArea)), 0);
}

TEST(PageStoreTest, FindsAStoredStreamWhateverItsSerialAndCrc) {
    Store st(kStreamStoreBytes);
    auto pages = three_stored_pages();
    store_append(st.s, pages.data(), pages.size());
    store_add_record(st.s, 0, 9200);
    store_append(st.s, pages.data(), 4000);
    store_add_record(st.s, 9200, 4000);
    auto other = pages;
    restamp_record(other.data(), 9200, 0xDEADBEEF);
    EXPECT_EQ(store_find_match(st.s, other.data(), other.size()), 1);
    other[9000] ^= 1;
    EXPECT_EQ(store_find_match(st.s, other.data(), other.size()), -1);
}

} // namespace
