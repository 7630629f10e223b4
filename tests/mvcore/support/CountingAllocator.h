#pragma once

#include "Marvane/Allocator.h"
#include "Marvane/Core.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#if defined(_WIN32)
#include <malloc.h>
#endif
#include <mutex>
#include <string>
#include <vector>

// An IAllocator that records every call and can be told to refuse allocations, so tests can see
// exactly what the library asks of a client allocator.
class CountingAllocator : public Marvane::IAllocator {
  public:
    enum class Op { Alloc, Free, AllocAligned, FreeAligned, ValidateHeap };
    struct Call {
        Op op;
        std::uint64_t size;
        std::uint32_t alignment;
        unsigned category;
        void* block;
        const Marvane::ContextInfo* context;
        std::string function;
    };

    // Return true to refuse the allocation of `size` bytes.
    std::function<bool(std::uint64_t size)> refuse;

    void* Alloc(std::uint64_t size, Marvane::AllocationCategory::Enum category,
                const Marvane::ContextInfo& context) override {
        void* block = Refused(size) ? nullptr : std::malloc(size);
        Record({Op::Alloc, size, 0, category, block, &context, Name(context)});
        return block;
    }
    void Free(void* block, const Marvane::ContextInfo& context) override {
        Record({Op::Free, 0, 0, 0, block, &context, Name(context)});
        std::free(block);
    }
    void* AllocAligned(std::uint64_t size, std::uint32_t alignment,
                       Marvane::AllocationCategory::Enum category,
                       const Marvane::ContextInfo& context) override {
        void* block = Refused(size) ? nullptr : AlignedBlock(size, alignment);
        Record({Op::AllocAligned, size, alignment, category, block, &context, Name(context)});
        return block;
    }
    void FreeAligned(void* block, const Marvane::ContextInfo& context) override {
        Record({Op::FreeAligned, 0, 0, 0, block, &context, Name(context)});
#if defined(_WIN32)
        _aligned_free(block);
#else
        std::free(block);
#endif
    }
    void ValidateHeap() override {
        Record({Op::ValidateHeap, 0, 0, 0, nullptr, nullptr, {}});
    }

    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }
    // Blocks handed out and not yet given back.
    long LiveBlocks() {
        std::lock_guard<std::mutex> lock(m_mutex);
        long live = 0;
        for (const Call& call : m_calls) {
            if ((call.op == Op::Alloc || call.op == Op::AllocAligned) && call.block != nullptr) ++live;
            if (call.op == Op::Free || call.op == Op::FreeAligned) --live;
        }
        return live;
    }

  private:
    static void* AlignedBlock(std::uint64_t size, std::uint32_t alignment) {
#if defined(_WIN32)
        return _aligned_malloc(size, alignment);
#else
        return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#endif
    }
    bool Refused(std::uint64_t size) {
        return refuse && refuse(size);
    }
    static std::string Name(const Marvane::ContextInfo& context) {
        return context.function != nullptr ? context.function : "";
    }
    void Record(Call call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(std::move(call));
    }

    std::mutex m_mutex;
    std::vector<Call> m_calls;
};

// Registers a CountingAllocator for the lifetime of the object and puts the default back afterwards.
class ScopedCountingAllocator {
  public:
    ScopedCountingAllocator() { m_ok = Marvane::RegisterAllocator(&allocator) == Marvane::Error::Ok; }
    ~ScopedCountingAllocator() { Marvane::RegisterAllocator(nullptr); }
    ScopedCountingAllocator(const ScopedCountingAllocator&) = delete;
    ScopedCountingAllocator& operator=(const ScopedCountingAllocator&) = delete;
    bool Registered() const { return m_ok; }

    CountingAllocator allocator;

  private:
    bool m_ok = false;
};
