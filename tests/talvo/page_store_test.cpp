#include "coder/repeat_item.h"
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

TEST(PageStoreTest, RecordListGrowsFrom256To384) {
    Store st;
    for (int i = 0; i < 256; ++i)
        store_add_record(st.s, i, 1);
    EXPECT_EQ(st.s.record_capacity, 256);
    store_add_record(st.s, 256, 1);
    EXPECT_EQ(st.s.record_capacity, 384);
    for (int i = 257; i < 385; ++i)
        store_add_record(st.s, i, 1);
    EXPECT_EQ(st.s.record_capacity, 512);
    for (int i = 385; i < 513; ++i)
        store_add_record(st.s, i, 1);
    EXPECT_EQ(st.s.record_capacity, 768);
    EXPECT_EQ(st.s.record_count, 513);
    for (int i = 0; i < 513; ++i)
        ASSERT_EQ(st.s.records[i].offset, i);
}

TEST(PageStoreTest, ByteBufferDoublesAndRecordsSurviveTheMove) {
    Store st(256, 4);
    std::vector<uint8_t> chunk(200);
    for (int i = 0; i < 10; ++i) {
        std::fill(chunk.begin(), chunk.end(), static_cast<uint8_t>(i));
        const int32_t offset = store_size(st.s);
        ASSERT_TRUE(store_append(st.s, chunk.data(), chunk.size()));
        store_add_record(st.s, offset, 200);
    }
    EXPECT_EQ(st.s.capacity_end - st.s.buffer, 2048);
    for (uint32_t k = 0; k < 10; ++k) {
        uint8_t* bytes = nullptr;
        int32_t length = 0;
        ASSERT_TRUE(store_lookup(st.s, k, bytes, length));
        EXPECT_EQ(length, 200);
        EXPECT_EQ(bytes[0], 9 - k);
        EXPECT_EQ(bytes[199], 9 - k);
    }
}

TEST(PageStoreTest, ByteBufferGrowsByHalfTheLargestPowerOfTwoFrom16MiB) {
    Store st(16777216, 4);
    std::vector<uint8_t> chunk(1 << 20, 0x5A);
    for (int i = 0; i < 17; ++i)
        ASSERT_TRUE(store_append(st.s, chunk.data(), chunk.size()));
    EXPECT_EQ(st.s.capacity_end - st.s.buffer, 16777216 + 8388608);
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(store_append(st.s, chunk.data(), chunk.size()));
    EXPECT_EQ(st.s.capacity_end - st.s.buffer, 33554432);
    EXPECT_EQ(st.s.buffer[store_size(st.s) - 1], 0x5A);
}

TEST(PageStoreTest, RecordPagesAreCountedWhole) {
    const auto bytes = build_stream({{2, 0, 1, 0, {30}}, {0, 0, 1, 1, {255, 10}}, {4, 0, 1, 2, {}}});
    EXPECT_EQ(count_record_pages(bytes.data(), static_cast<int32_t>(bytes.size())), 3);
    EXPECT_EQ(count_record_pages(bytes.data(), static_cast<int32_t>(bytes.size()) - 1), -1);
    EXPECT_EQ(count_record_pages(bytes.data(), 0), 0);
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
    testing::internal::CaptureStdout();
    EXPECT_FALSE(store_lookup(st.s, 3, bytes, length));
    EXPECT_FALSE(store_lookup(st.s, 0xFFFFFFFFu, bytes, length));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "frame list position error!\nframe list position error!\n");
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
    for (uint32_t k : indices)
        EXPECT_EQ(decode_store_index(dec, (*models2)[kModelStreamStoreIndex]), k);
    EXPECT_EQ(std::memcmp(models.get(), models2.get(), sizeof(ModelArea)), 0);
}

// Three pages of 4,000, 4,000 and 1,200 bytes, stored as flushed (CRC field zero).
std::vector<uint8_t> three_pages() {
    std::vector<uint8_t> lacing1(15, 255), lacing3(4, 255);
    lacing1.push_back(4000 - 27 - 16 - 15 * 255);
    lacing3.push_back(1200 - 27 - 5 - 4 * 255);
    auto bytes = build_stream({{2, 0, 1, 0, lacing1}, {0, 0, 1, 1, lacing1}, {4, 0, 1, 2, lacing3}}, 8);
    EXPECT_EQ(bytes.size(), 9200u);
    for (size_t page : {size_t{0}, size_t{4000}, size_t{8000}})
        std::memset(&bytes[page + 22], 0, 4);
    return bytes;
}

TEST(RepeatItemTest, RestampsEveryPageAndWritesTheRecordOnce) {
    Store st(kStreamStoreBytes);
    const auto pages = three_pages();
    store_append(st.s, pages.data(), pages.size());
    store_add_record(st.s, 0, static_cast<int32_t>(pages.size()));
    // An unrelated newer record, so the stream is k = 1.
    store_append(st.s, pages.data(), 4000);
    store_add_record(st.s, static_cast<int32_t>(pages.size()), 4000);

    auto pack_models = std::make_unique<ModelArea>();
    reset_models(*pack_models, kModelAreaRecords);
    RangeEncoder enc;
    Store pack_store(kStreamStoreBytes);
    store_append(pack_store.s, st.s.buffer, static_cast<size_t>(store_size(st.s)));
    pack_store.s.record_count = 0;
    store_add_record(pack_store.s, 0, 9200);
    store_add_record(pack_store.s, 9200, 4000);
    ASSERT_TRUE(pack_repeat_item(enc, *pack_models, pack_store.s, 1, 5));
    ASSERT_TRUE(pack_repeat_item(enc, *pack_models, pack_store.s, 1, 7));
    flush_encoder(enc);

    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    std::vector<uint8_t> first, second;
    OutputSink sink1 = vector_sink(first), sink2 = vector_sink(second);
    ASSERT_TRUE(restore_repeat_item(dec, *models, st.s, sink1));
    ASSERT_TRUE(restore_repeat_item(dec, *models, st.s, sink2));
    EXPECT_EQ((*models)[kModelSerial].last_value, 7);
    EXPECT_EQ(std::memcmp(models.get(), pack_models.get(), sizeof(ModelArea)), 0);
    EXPECT_EQ(std::memcmp(st.s.buffer, pack_store.s.buffer, 9200), 0) << "both stores restamped alike";
    ASSERT_EQ(first.size(), 9200u);
    ASSERT_EQ(second.size(), 9200u);
    std::vector<size_t> differing;
    for (size_t i = 0; i < first.size(); ++i)
        if (first[i] != second[i]) differing.push_back(i);
    for (size_t i : differing) {
        const size_t in_page = i < 4000 ? i : i < 8000 ? i - 4000 : i - 8000;
        EXPECT_TRUE((in_page >= 14 && in_page < 18) || (in_page >= 22 && in_page < 26)) << i;
    }
    for (size_t page : {size_t{0}, size_t{4000}, size_t{8000}}) {
        EXPECT_EQ(read_le32(&first[page + 14]), 5u);
        EXPECT_EQ(read_le32(&second[page + 14]), 7u);
        EXPECT_EQ(read_le32(&first[page + 22]), ogg_page_crc(&first[page], page == 8000 ? 1200 : 4000));
        EXPECT_EQ(read_le32(&second[page + 22]), ogg_page_crc(&second[page], page == 8000 ? 1200 : 4000));
        EXPECT_EQ(std::memcmp(&second[page], &pages[page], 14), 0);
    }
}

TEST(RepeatItemTest, IndexBeyondTheStoreFails) {
    Store st(kStreamStoreBytes);
    const auto pages = three_pages();
    store_append(st.s, pages.data(), pages.size());
    store_add_record(st.s, 0, 9200);
    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    RangeEncoder enc;
    Packing pk{&enc};
    code_store_index(pk, (*models)[kModelStreamStoreIndex], 1);
    code_delta<ShapeSerialNumber>(pk, (*models)[kModelSerial], false, 3);
    flush_encoder(enc);
    reset_models(*models, kModelAreaRecords);
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    std::vector<uint8_t> out;
    const OutputSink sink = vector_sink(out);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(restore_repeat_item(dec, *models, st.s, sink));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "frame list position error!\n");
    EXPECT_TRUE(out.empty());
}

TEST(RepeatItemTest, FindsAStoredStreamWhateverItsSerialAndCrc) {
    Store st(kStreamStoreBytes);
    auto pages = three_pages();
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
