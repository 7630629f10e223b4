#include "Crc32Tables.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define MARVANE_CRC32_CARRYLESS 1
#endif

namespace Marvane::Utilities::Crc32Detail {

#if defined(MARVANE_CRC32_CARRYLESS)

namespace {

// Folding constants of the reflected polynomial: x^(4*128+32) and x^(4*128-32) mod P for the four-lane
// loop, x^(128+32) and x^(128-32) mod P for one lane, each bit-reflected and shifted by one.
constexpr long long kFold4Low = 0x154442bd4LL;
constexpr long long kFold4High = 0x1c6e41596LL;
constexpr long long kFold1Low = 0x1751997d0LL;
constexpr long long kFold1High = 0x0ccaa009eLL;

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i lane, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse2"))) std::uint32_t FoldBlocks(std::uint32_t reg, const unsigned char*& data,
                                                                std::uint64_t& size) {
    const auto load = [](const unsigned char* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    __m128i x0 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = load(data + 16);
    __m128i x2 = load(data + 32);
    __m128i x3 = load(data + 48);
    data += 64;
    size -= 64;

    const __m128i fold4 = _mm_set_epi64x(kFold4High, kFold4Low);
    while (size >= 64) {
        x0 = Fold(x0, fold4, load(data));
        x1 = Fold(x1, fold4, load(data + 16));
        x2 = Fold(x2, fold4, load(data + 32));
        x3 = Fold(x3, fold4, load(data + 48));
        data += 64;
        size -= 64;
    }

    const __m128i fold1 = _mm_set_epi64x(kFold1High, kFold1Low);
    x0 = Fold(x0, fold1, x1);
    x0 = Fold(x0, fold1, x2);
    x0 = Fold(x0, fold1, x3);
    while (size >= 16) {
        x0 = Fold(x0, fold1, load(data));
        data += 16;
        size -= 16;
    }

    // The folded lane is congruent to the data consumed so far: running it through the tables from a
    // zero register yields the register for everything folded.
    alignas(16) unsigned char residue[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(residue), x0);
    return UpdateSlicing16(0, residue, sizeof(residue));
}

bool ProcessorHasCarryless() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return has;
}

} // namespace

bool UpdateCarryless(std::uint32_t& reg, const unsigned char* data, std::uint64_t size) {
    if (size < 64 || !ProcessorHasCarryless()) return false;
    std::uint32_t r = FoldBlocks(reg, data, size);
    reg = UpdateSlicing16(r, data, size);
    return true;
}

#else

bool UpdateCarryless(std::uint32_t&, const unsigned char*, std::uint64_t) {
    return false;
}

#endif

} // namespace Marvane::Utilities::Crc32Detail
