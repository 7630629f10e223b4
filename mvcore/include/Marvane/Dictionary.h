#pragma once

#include "Marvane/Allocator.h"
#include "Marvane/Array.h"
#include "Marvane/Error.h"
#include "Marvane/LinkedList.h"

#include <cstdint>
#include <new>
#include <utility>

namespace Marvane {

// Hashing and equality of dictionary keys. The hash of an integral key is the key itself.
template <class K> struct DefaultTypeHelper {
    static std::uint32_t Hash(const K& key) { return static_cast<std::uint32_t>(key); }
    static bool Equal(const K& a, const K& b) { return a == b; }
};

// A chained hash map whose nodes and bucket array come from GetAllocator() (category Generic). Buckets
// are created with the first insertion and the table grows, never shrinks: when an insertion finds
// more than two elements per bucket, the buckets are rebuilt for about 1.33 per bucket. The
// dictionary takes no lock; its owner serialises access.
template <class K, class V, class Helper = DefaultTypeHelper<K>> class Dictionary {
  public:
    struct Pair {
        K key;
        V value;
        Pair* next;
        Pair* previous;
    };
    using Bucket = LinkedList<Pair>;

    static constexpr std::uint32_t InitialBucketCount = 16;

    Dictionary() = default;
    ~Dictionary() { Clear(); }
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;

    // Inserts `key`, or overwrites its value when present. OutOfMemory when no storage could be had;
    // the dictionary is then unchanged.
    Error::Enum Insert(const K& key, const V& value) {
        if (m_buckets.IsEmpty() &&
            m_buckets.InitializeInternal(InitialBucketCount, 0, AllocationCategory::Generic) != Error::Ok)
            return Error::OutOfMemory;
        if (static_cast<double>(m_count) / static_cast<double>(m_buckets.GetCount()) > 2.0) {
            const std::uint32_t grown = m_count + m_count / 2;
            // A failed rebuild keeps the current buckets: the insertion still succeeds, only with a
            // longer chain.
            Rehash((grown > InitialBucketCount ? grown : InitialBucketCount) / 2);
        }
        if (Pair* existing = Lookup(key)) {
            existing->value = value;
            return Error::Ok;
        }
        void* storage =
            GetAllocator()->Alloc(sizeof(Pair), AllocationCategory::Generic, MARVANE_CONTEXT_INFO);
        if (storage == nullptr) return Error::OutOfMemory;
        Pair* node = new (storage) Pair{key, value, nullptr, nullptr};
        BucketOf(key).PushBack(node);
        ++m_count;
        return Error::Ok;
    }

    // Removes `key`; false when it was not present.
    bool Remove(const K& key) {
        Pair* node = Lookup(key);
        if (node == nullptr) return false;
        BucketOf(key).Unlink(node);
        Destroy(node);
        --m_count;
        return true;
    }

    V* Find(const K& key) {
        Pair* node = Lookup(key);
        return node != nullptr ? &node->value : nullptr;
    }
    bool Contains(const K& key) const { return Lookup(key) != nullptr; }

    std::uint32_t GetCount() const { return m_count; }
    std::uint32_t GetBucketCount() const { return m_buckets.GetCount(); }
    const Bucket* GetBucket(std::uint32_t index) const {
        return index < m_buckets.GetCount() ? &m_buckets[index] : nullptr;
    }

    // Releases every node, then the bucket array.
    void Clear() {
        for (std::uint32_t i = 0; i < m_buckets.GetCount(); ++i)
            while (Pair* node = m_buckets[i].PopFront())
                Destroy(node);
        m_count = 0;
        m_buckets.ReleaseInternal();
    }

  private:
    // Rebuilds the table with `bucketCount` buckets, keeping each bucket's nodes in the order they are
    // met bucket by bucket. The new array is obtained before anything is moved, so running out of
    // memory leaves the table as it was.
    Error::Enum Rehash(std::uint32_t bucketCount) {
        ArrayBase<Bucket, 1> rebuilt;
        if (rebuilt.InitializeInternal(bucketCount, 0, AllocationCategory::Generic) != Error::Ok)
            return Error::OutOfMemory;
        Bucket all;
        for (std::uint32_t i = 0; i < m_buckets.GetCount(); ++i)
            while (Pair* node = m_buckets[i].PopFront())
                all.PushBack(node);
        m_buckets = std::move(rebuilt);
        while (Pair* node = all.PopFront())
            BucketOf(node->key).PushBack(node);
        return Error::Ok;
    }

    Bucket& BucketOf(const K& key) { return m_buckets[Helper::Hash(key) % m_buckets.GetCount()]; }

    Pair* Lookup(const K& key) const {
        if (m_buckets.IsEmpty()) return nullptr;
        for (Pair* node = m_buckets[Helper::Hash(key) % m_buckets.GetCount()].head; node != nullptr;
             node = node->next)
            if (Helper::Equal(node->key, key)) return node;
        return nullptr;
    }

    static void Destroy(Pair* node) {
        node->~Pair();
        GetAllocator()->Free(node, MARVANE_CONTEXT_INFO);
    }

    std::uint32_t m_count = 0;
    ArrayBase<Bucket, 1> m_buckets;
};

} // namespace Marvane
