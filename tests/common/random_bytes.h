#pragma once

// Reproducible pseudo-random bytes for test inputs: the same size and seed give the same bytes on every
// platform, so a failure can be replayed.

#include <cstddef>
#include <cstdint>
#include <vector>

// The generators the tests were written against. Each test keeps the one its expectations were made
// with: changing the generator changes the bytes a test sees.
enum class ByteGenerator {
    // std::mt19937 seeded with the seed, each byte the low eight bits of one draw.
    MersenneTwister,
    // A 32-bit xorshift started from a scrambled seed, each byte the high eight bits of one step: every
    // seed, zero included, gives a sequence of its own.
    Xorshift,
};

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed,
                                  ByteGenerator generator = ByteGenerator::MersenneTwister);
