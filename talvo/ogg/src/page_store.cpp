#include "ogg/page_store.h"

#include "ogg/ogg_page.h"

#include <cstdlib>
#include <cstring>

namespace {

size_t floor_pow2(size_t v) {
    size_t p = 1;
    while (p <= v / 2)
        p *= 2;
    return p;
}

constexpr size_t kLinearGrowthFrom = 16777216;
constexpr size_t kMaxStoreBytes = 0x7FFFFFFF;

} // namespace

void store_create(PageStore& store, size_t byte_capacity, int32_t record_capacity) {
    store.buffer = static_cast<uint8_t*>(std::malloc(byte_capacity));
    store.data_end = store.buffer;
    store.capacity_end = store.buffer + byte_capacity;
    store.records =
        static_cast<PageRecord*>(std::malloc(sizeof(PageRecord) * static_cast<size_t>(record_capacity)));
    store.record_count = 0;
    store.record_capacity = record_capacity;
}

void store_release(PageStore& store) {
    std::free(store.buffer);
    std::free(store.records);
    store = PageStore{};
}

bool store_append(PageStore& store, const uint8_t* bytes, size_t n) {
    const size_t used = static_cast<size_t>(store.data_end - store.buffer);
    if (n > kMaxStoreBytes - used) return false;
    size_t capacity = static_cast<size_t>(store.capacity_end - store.buffer);
    if (used + n > capacity) {
        while (used + n > capacity) {
            if (capacity == 0)
                capacity = 256;
            else if (capacity < kLinearGrowthFrom)
                capacity *= 2;
            else
                capacity += floor_pow2(capacity) / 2;
        }
        auto* grown = static_cast<uint8_t*>(std::realloc(store.buffer, capacity));
        if (!grown) return false;
        store.buffer = grown;
        store.data_end = grown + used;
        store.capacity_end = grown + capacity;
    }
    if (n > 0) std::memcpy(store.data_end, bytes, n);
    store.data_end += n;
    return true;
}

void store_add_record(PageStore& store, int32_t offset, int32_t length) {
    if (store.record_count >= store.record_capacity) {
        const int32_t grow =
            store.record_count >= 2
                ? static_cast<int32_t>(floor_pow2(static_cast<size_t>(store.record_count)) / 2)
                : 2;
        const int32_t capacity = store.record_capacity + grow;
        auto* grown = static_cast<PageRecord*>(
            std::realloc(store.records, sizeof(PageRecord) * static_cast<size_t>(capacity)));
        if (!grown) return;
        store.records = grown;
        store.record_capacity = capacity;
    }
    store.records[store.record_count++] = PageRecord{offset, length};
}

bool store_lookup(const PageStore& store, uint32_t k, uint8_t*& bytes, int32_t& length) {
    if (k >= static_cast<uint32_t>(store.record_count)) return false;
    const PageRecord& r = store.records[store.record_count - 1 - static_cast<int32_t>(k)];
    bytes = store.buffer + r.offset;
    length = r.length;
    return true;
}

int32_t store_find_match(const PageStore& store, const uint8_t* bytes, size_t n) {
    for (int32_t k = 0; k < store.record_count; ++k) {
        const PageRecord& r = store.records[store.record_count - 1 - k];
        if (static_cast<size_t>(r.length) != n) continue;
        const uint8_t* stored = store.buffer + r.offset;
        size_t pos = 0;
        bool same = true;
        while (same && pos < n) {
            const size_t size = ogg_page_size(stored + pos, n - pos);
            if (size == 0) {
                same = false;
                break;
            }
            same = std::memcmp(stored + pos, bytes + pos, kOggSerial) == 0 &&
                   std::memcmp(stored + pos + kOggSequence, bytes + pos + kOggSequence, 4) == 0 &&
                   std::memcmp(stored + pos + kOggSegmentCount, bytes + pos + kOggSegmentCount,
                               size - kOggSegmentCount) == 0;
            pos += size;
        }
        if (same) return k;
    }
    return -1;
}
