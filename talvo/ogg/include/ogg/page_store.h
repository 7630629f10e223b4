#pragma once

// PageStore: a growing byte buffer of emitted pages with a list of {offset, length} records. Two live
// for the whole run: the stream store (whole remembered logical streams, for repeat items) and the
// header store (captured header pages, for header copies). Stored pages are copies taken before their
// CRC was placed, so their CRC field is zero until a repeat restamps them in place.
//
// The recency index that picks a record is coded with code_store_index<Dir> (either direction); k = 0
// is the newest record.

#include "coder/bit_direction.h"
#include "coder/value_code.h"

#include <cstddef>
#include <cstdint>

struct PageRecord {
    int32_t offset; // from the start of the byte buffer
    int32_t length;
};

struct PageStore {
    uint8_t* buffer = nullptr;
    uint8_t* data_end = nullptr;
    uint8_t* capacity_end = nullptr;
    PageRecord* records = nullptr;
    int32_t record_count = 0;
    int32_t record_capacity = 0;
};

constexpr size_t kStreamStoreBytes = 262144;
constexpr size_t kHeaderStoreBytes = 131072;
constexpr int32_t kStoreRecords = 256;

void store_create(PageStore& store, size_t byte_capacity, int32_t record_capacity);
void store_release(PageStore& store);

inline int32_t store_size(const PageStore& store) {
    return static_cast<int32_t>(store.data_end - store.buffer);
}

// Appends n bytes, growing the buffer (twice the capacity below 16 MiB, then by half the largest power
// of two not above it). The buffer may move; records hold offsets. False when the store would pass
// 2 GiB, which the 32-bit record offsets cannot address; nothing is appended then.
bool store_append(PageStore& store, const uint8_t* bytes, size_t n);

// Appends a record, growing the list by half the largest power of two not above the count when full
// (256 -> 384 -> 512 -> 768 -> 1024 ...).
void store_add_record(PageStore& store, int32_t offset, int32_t length);

// The k-th most recent record (k = 0 the newest); false when there is none.
bool store_lookup(const PageStore& store, uint32_t k, uint8_t*& bytes, int32_t& length);

// The index of the newest record whose pages equal `bytes` except for the serial number and CRC fields
// of every page, or -1. The packing side of repeats and header copies.
int32_t store_find_match(const PageStore& store, const uint8_t* bytes, size_t n);

// Recency index: unsigned value code, 5 class bits, mantissa history 1 with one table per class
// (first bit on p[1044 + 4k + 1], later bits on p[1044 + 4k + 2 + first bit]), no predictor.
using ShapeStoreIndex = ValueShape<5, 1, false>;

template <class Dir> uint32_t code_store_index(Dir& d, ValueModel& model, uint32_t known = 0) {
    return static_cast<uint32_t>(code_delta<ShapeStoreIndex>(d, model, true, static_cast<int32_t>(known)));
}
