#pragma once

#include "Marvane/Allocator.h"
#include "Marvane/Error.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace Marvane {

// Heap storage of `count` zero-filled elements obtained through GetAllocator(). The second parameter
// names the storage kind; kind 1 (the only one) is this allocator-backed, zero-filled storage.
// Elements must be valid when all their bytes are zero; no constructors or destructors run.
template <class T, int Kind = 1> class ArrayBase {
    static_assert(Kind == 1, "only allocator-backed storage exists");

  public:
    ArrayBase() = default;
    ~ArrayBase() { ReleaseInternal(); }

    ArrayBase(const ArrayBase&) = delete;
    ArrayBase& operator=(const ArrayBase&) = delete;
    ArrayBase(ArrayBase&& other) noexcept : m_data(other.m_data), m_count(other.m_count) {
        other.m_data = nullptr;
        other.m_count = 0;
    }
    ArrayBase& operator=(ArrayBase&& other) noexcept {
        if (this != &other) {
            ReleaseInternal();
            m_data = other.m_data;
            m_count = other.m_count;
            other.m_data = nullptr;
            other.m_count = 0;
        }
        return *this;
    }

    // Takes storage for `count` elements (aligned when `alignment` is not 0). InvalidState if storage
    // is already held; OutOfMemory if the allocator has none (or the byte size does not fit).
    Error::Enum InitializeInternal(std::uint32_t count, std::uint32_t alignment,
                                   AllocationCategory::Enum category) {
        if (m_data != nullptr) return Error::InvalidState;
        if (count == 0) return Error::Ok;
        const std::uint64_t bytes = static_cast<std::uint64_t>(count) * sizeof(T);
        if (bytes / sizeof(T) != count) return Error::OutOfMemory;
        const ContextInfo context = MARVANE_CONTEXT_INFO;
        void* storage = alignment != 0 ? GetAllocator()->AllocAligned(bytes, alignment, category, context)
                                       : GetAllocator()->Alloc(bytes, category, context);
        if (storage == nullptr) return Error::OutOfMemory;
        std::memset(storage, 0, static_cast<std::size_t>(bytes));
        m_data = static_cast<T*>(storage);
        m_count = count;
        return Error::Ok;
    }

    // Gives the storage back; the array is empty afterwards.
    void ReleaseInternal() {
        if (m_data == nullptr) return;
        GetAllocator()->Free(m_data, MARVANE_CONTEXT_INFO);
        m_data = nullptr;
        m_count = 0;
    }

    bool IsEmpty() const { return m_data == nullptr; }
    std::uint32_t GetCount() const { return m_count; }
    T* GetData() { return m_data; }
    const T* GetData() const { return m_data; }
    T& operator[](std::uint32_t index) { return m_data[index]; }
    const T& operator[](std::uint32_t index) const { return m_data[index]; }

  protected:
    T* m_data = nullptr;
    std::uint32_t m_count = 0;
};

// A zero-filled array of plain elements in allocator memory.
template <class T> class Array : public ArrayBase<T, 1> {
  public:
    Error::Enum Initialize(std::uint32_t count,
                           AllocationCategory::Enum category = AllocationCategory::Generic) {
        return this->InitializeInternal(count, 0, category);
    }
    Error::Enum InitializeAligned(std::uint32_t count, std::uint32_t alignment,
                                  AllocationCategory::Enum category = AllocationCategory::Generic) {
        return this->InitializeInternal(count, alignment, category);
    }
    void Release() { this->ReleaseInternal(); }
};

} // namespace Marvane
