// The FastLZ decompressor on arbitrary blocks: it never writes past the capacity it is given, gives
// the same bytes into a buffer of exactly the restored size, and refuses one byte less. The input is
// also compressed at both levels and must come back unchanged.

#include <Marvane/Utilities/Compressor.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

using Marvane::Utilities::Compressor;

namespace {

// A level-2 block can expand a few thousand times; this covers every input libFuzzer makes.
constexpr size_t kLargeCapacity = size_t{1} << 24;

// Exactly `size` bytes on the heap, so AddressSanitizer sees a write one past the end.
std::unique_ptr<uint8_t[]> exact_buffer(size_t size) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[size == 0 ? 1 : size]);
}

void check_decompress(const uint8_t* data, size_t size) {
    static uint8_t* large = new uint8_t[kLargeCapacity];
    const uint64_t restored = Compressor::Decompress(data, size, large, kLargeCapacity);
    if (restored > kLargeCapacity) std::abort();
    if (restored == 0) return;

    auto exact = exact_buffer(restored);
    if (Compressor::Decompress(data, size, exact.get(), restored) != restored) std::abort();
    if (std::memcmp(exact.get(), large, restored) != 0) std::abort();

    auto short_by_one = exact_buffer(restored - 1);
    if (Compressor::Decompress(data, size, short_by_one.get(), restored - 1) != 0) std::abort();
}

void check_round_trip(const uint8_t* data, size_t size) {
    if (size == 0) return;
    auto block = exact_buffer(Compressor::CalculateBufferSize(size));
    auto back = exact_buffer(size);
    for (int level : {1, 2}) {
        const uint64_t packed = Compressor::Compress_level(level, data, size, block.get());
        if (packed == 0 || packed > Compressor::CalculateBufferSize(size)) std::abort();
        if (Compressor::Decompress(block.get(), packed, back.get(), size) != size) std::abort();
        if (std::memcmp(back.get(), data, size) != 0) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The block in a buffer of its own exact size, so a read past it is seen too.
    auto block = exact_buffer(size);
    if (size) std::memcpy(block.get(), data, size);
    check_decompress(block.get(), size);
    check_round_trip(block.get(), size);
    return 0;
}
