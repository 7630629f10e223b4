#include "ogg_test_files.h"
#include "page_rig.h"

#include <gtest/gtest.h>

// libogg is linked where the build found it (TALVO_TESTS_HAVE_LIBOGG, native builds).
#ifdef TALVO_TESTS_HAVE_LIBOGG
#include <ogg/ogg.h>
#define HAVE_LIBOGG 1
#endif

namespace {

// One bit at a time, straight from the polynomial.
uint32_t bitwise_crc(const uint8_t* bytes, size_t n) {
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint32_t>(bytes[i]) << 24;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

TEST(OggCrcTest, FollowsThePolynomial) {
    const uint8_t one = 1, top = 0x80;
    EXPECT_EQ(ogg_crc_update(0, &one, 1), 0x04C11DB7u);
    EXPECT_EQ(ogg_crc_update(0, &top, 1), 0x690CE0EEu) << "0x80 << 24 shifted out once, then seven steps";
    // The sliced update agrees with the bitwise one at every length and alignment.
    std::mt19937 rng(4);
    std::vector<uint8_t> bytes(300);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng());
    for (size_t start = 0; start < 9; ++start)
        for (size_t n = 0; n + start <= bytes.size(); n += 7)
            ASSERT_EQ(ogg_crc_update(0, bytes.data() + start, n), bitwise_crc(bytes.data() + start, n));
}

#ifdef HAVE_LIBOGG
uint32_t libogg_crc(const uint8_t* page, size_t size) {
    std::vector<uint8_t> copy(page, page + size);
    ogg_page og;
    const size_t header = 27u + copy[26];
    og.header = copy.data();
    og.header_len = static_cast<long>(header);
    og.body = copy.data() + header;
    og.body_len = static_cast<long>(size - header);
    ogg_page_checksum_set(&og);
    return read_le32(copy.data() + 22);
}

TEST(OggCrcTest, AgreesWithLiboggOnEveryPage) {
    std::mt19937 rng(9);
    int checked = 0;
    for (int i = 0; i < 200; ++i) {
        PageLayout layout{static_cast<uint8_t>(rng() & 7),
                          rng(),
                          static_cast<uint32_t>(rng()),
                          static_cast<uint32_t>(i),
                          {}};
        const int s = static_cast<int>(rng() % 256);
        for (int j = 0; j < s; ++j)
            layout.lacing.push_back(static_cast<uint8_t>(rng() % 3 == 0 ? 255 : rng() & 0xFF));
        const auto page = build_page(layout, rng);
        ASSERT_EQ(ogg_page_crc(page.data(), page.size()), libogg_crc(page.data(), page.size()));
        ++checked;
    }
    for (const TestOggFile& file : test_ogg_files()) {
        std::vector<OggPage> pages;
        split_ogg_pages(file.bytes.data(), file.bytes.size(), pages);
        for (const OggPage& page : pages) {
            const uint32_t ours = ogg_page_crc(page.data, page.size);
            ASSERT_EQ(ours, libogg_crc(page.data, page.size)) << file.name;
            ASSERT_EQ(ours, read_le32(page.data + 22)) << file.name;
            ++checked;
        }
    }
    EXPECT_GT(checked, 200);
}
#endif

} // namespace
