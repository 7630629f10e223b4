#pragma once

// Zero-filled blocks for the model areas and scratch memory. A block comes straight from the system as
// zero pages (mmap, VirtualAlloc) that cost nothing until they are touched, also when an earlier block
// was just released, so, with probabilities stored so that zero is their initial value
// (range_decoder.h), a small archive pays only for the models it actually uses. Blocks of 256 KiB or
// more are mapped in whole 2 MiB pages and ask for huge pages (Linux), which cost one fault each.

#include <cstddef>
#include <memory>

void* allocate_zero_pages(size_t bytes); // null when memory runs out
void release_zero_pages(void* block, size_t bytes);

struct ZeroPagesDeleter {
    size_t bytes = 0;
    void operator()(void* block) const { release_zero_pages(block, bytes); }
};

template <class T> using ZeroedBlock = std::unique_ptr<T, ZeroPagesDeleter>;

// `count` zero-filled objects of a type whose zero bytes are a valid value (plain records); empty when
// memory runs out.
template <class T> ZeroedBlock<T> allocate_zeroed(size_t count) {
    const size_t bytes = count * sizeof(T);
    return ZeroedBlock<T>(static_cast<T*>(allocate_zero_pages(bytes)), ZeroPagesDeleter{bytes});
}
