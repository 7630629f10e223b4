#include "random_bytes.h"

#include <random>

namespace {

std::vector<uint8_t> mersenne_twister_bytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 rng(seed);
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>(rng());
    return bytes;
}

std::vector<uint8_t> xorshift_bytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 0x9E3779B9u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

} // namespace

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed, ByteGenerator generator) {
    switch (generator) {
    case ByteGenerator::MersenneTwister:
        return mersenne_twister_bytes(size, seed);
    case ByteGenerator::Xorshift:
        return xorshift_bytes(size, seed);
    }
    return {};
}
