// The repeat item: a stream of the stream store emitted again under another serial number, coded as a
// store index and a serial number on the control coder.

#include "archive/repeat_item.h"
#include "page_rig.h"

#include <gtest/gtest.h>

namespace {

struct Driver {
    StreamDriver* d = create_stream_driver(0, false);
    ~Driver() { destroy_stream_driver(d); }
};

// The three pages as record 1, and an unrelated newer record 0.
void store_three_pages(StreamDriver& driver, const std::vector<uint8_t>& pages) {
    store_append(driver.stream_store, pages.data(), pages.size());
    store_add_record(driver.stream_store, 0, static_cast<int32_t>(pages.size()));
    store_append(driver.stream_store, pages.data(), 4000);
    store_add_record(driver.stream_store, static_cast<int32_t>(pages.size()), 4000);
}

TEST(RepeatItemTest, RestampsEveryPageAndWritesTheRecordOnce) {
    const auto pages = three_stored_pages();
    ASSERT_EQ(pages.size(), 9200u);
    Driver packer, unpacker;
    store_three_pages(*packer.d, pages);
    store_three_pages(*unpacker.d, pages);
    RangeEncoder enc;
    ASSERT_TRUE(pack_repeat_item(*packer.d, enc, 1, 5));
    ASSERT_TRUE(pack_repeat_item(*packer.d, enc, 1, 7));
    flush_encoder(enc);

    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    std::vector<uint8_t> first, second;
    ASSERT_EQ(unpack_repeat_item(*unpacker.d, dec, vector_sink(first), CodecEvents{}), ItemResult::Done);
    ASSERT_EQ(unpack_repeat_item(*unpacker.d, dec, vector_sink(second), CodecEvents{}), ItemResult::Done);
    EXPECT_EQ((*unpacker.d->models)[kModelSerial].last_value, 7);
    EXPECT_EQ(std::memcmp(unpacker.d->models, packer.d->models, sizeof(ModelArea)), 0);
    EXPECT_EQ(std::memcmp(unpacker.d->stream_store.buffer, packer.d->stream_store.buffer, 9200), 0)
        << "both stores restamped alike";
    ASSERT_EQ(first.size(), 9200u);
    ASSERT_EQ(second.size(), 9200u);
    for (size_t i = 0; i < first.size(); ++i) {
        if (first[i] == second[i]) continue;
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
    Driver driver;
    const auto pages = three_stored_pages();
    store_append(driver.d->stream_store, pages.data(), pages.size());
    store_add_record(driver.d->stream_store, 0, 9200);
    // The packer codes nothing for a record it does not have.
    RangeEncoder unused;
    EXPECT_FALSE(pack_repeat_item(*driver.d, unused, 1, 3));
    EXPECT_EQ(unused.cache_size, 1u);

    auto models = std::make_unique<ModelArea>();
    reset_models(*models, kModelAreaRecords);
    RangeEncoder enc;
    Packing pk{&enc};
    code_store_index(pk, (*models)[kModelStreamStoreIndex], 1);
    code_delta<ShapeSerialNumber>(pk, (*models)[kModelSerial], false, 3);
    flush_encoder(enc);
    RangeDecoder dec;
    init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
    std::vector<uint8_t> out;
    std::vector<CodecEvent> reported;
    const CodecEvents events{&reported, [](void* context, CodecEvent event, int count) {
                                 for (int i = 0; i < count; ++i)
                                     static_cast<std::vector<CodecEvent>*>(context)->push_back(event);
                             }};
    EXPECT_EQ(unpack_repeat_item(*driver.d, dec, vector_sink(out), events), ItemResult::Incomplete);
    EXPECT_EQ(reported, std::vector<CodecEvent>{CodecEvent::MissingStoredRecord});
    EXPECT_TRUE(out.empty());
}

} // namespace
