#include "ogg/ogg_crc.h"

#include "ogg/ogg_page.h"

#include <array>

namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

// Table 0 is the byte-at-a-time table; table k advances a byte through k further zero bytes, so eight
// bytes are folded in with eight lookups (slicing by eight).
constexpr Tables make_tables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int j = 0; j < 8; ++j)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
        t[0][i] = r;
    }
    for (int k = 1; k < 8; ++k)
        for (uint32_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
    return t;
}

constexpr Tables kTables = make_tables();

inline uint32_t load_be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

} // namespace

uint32_t ogg_crc_update(uint32_t crc, const uint8_t* p, size_t n) {
    while (n >= 8) {
        const uint32_t a = crc ^ load_be32(p);
        const uint32_t b = load_be32(p + 4);
        crc = kTables[7][a >> 24] ^ kTables[6][(a >> 16) & 0xFF] ^ kTables[5][(a >> 8) & 0xFF] ^
              kTables[4][a & 0xFF] ^ kTables[3][b >> 24] ^ kTables[2][(b >> 16) & 0xFF] ^
              kTables[1][(b >> 8) & 0xFF] ^ kTables[0][b & 0xFF];
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = (crc << 8) ^ kTables[0][(crc >> 24) ^ *p++];
    return crc;
}

uint32_t ogg_page_crc(const uint8_t* page, size_t size) {
    static const uint8_t kZero[4] = {0, 0, 0, 0};
    if (size < kOggCrc + 4) return ogg_crc_update(0, page, size);
    uint32_t crc = ogg_crc_update(0, page, kOggCrc);
    crc = ogg_crc_update(crc, kZero, 4);
    return ogg_crc_update(crc, page + kOggCrc + 4, size - kOggCrc - 4);
}
