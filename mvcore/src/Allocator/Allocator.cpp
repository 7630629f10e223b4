#include "Marvane/Allocator.h"

#include "Allocator/AllocationHeader.h"
#include "Allocator/DefaultHeap.h"
#include "Core/CoreState.h"
#include "Core/MemoryStatistics.h"

#include <atomic>
#include <limits>

namespace Marvane {
namespace {

constinit DefaultAllocator defaultAllocator;
constinit Allocator processAllocator;

std::atomic_ref<IAllocator*> ActiveSlot(IAllocator*& slot) {
    return std::atomic_ref<IAllocator*>(slot);
}

} // namespace

IAllocator* Allocator::Active() {
    // With nothing registered and the core not yet initialised there is no allocator to go to;
    // rather than crash, the allocation takes the run-time heap, exactly as after InitializeCore.
    IAllocator* active = ActiveSlot(m_allocator).load(std::memory_order_acquire);
    if (active != nullptr) return active;
    IAllocator* expected = nullptr;
    if (ActiveSlot(m_allocator)
            .compare_exchange_strong(expected, &defaultAllocator, std::memory_order_acq_rel))
        return &defaultAllocator;
    return expected;
}

// The common case takes a short path: the run-time heap, no performance log being captured, and the
// sizes counted in the calling thread's own counters. Everything else goes the general way.
void* Allocator::Alloc(std::uint64_t size, AllocationCategory::Enum category, const ContextInfo& context) {
    if (ActiveSlot(m_allocator).load(std::memory_order_acquire) == &defaultAllocator &&
        static_cast<unsigned>(category) < AllocationCategory::Count &&
        size <= std::numeric_limits<std::uint64_t>::max() - Detail::HeaderSize &&
        Detail::AddToThreadCounter(category, Detail::AsCounterAmount(size))) {
        auto* raw = static_cast<unsigned char*>(Detail::HeapAlloc(size + Detail::HeaderSize));
        if (raw == nullptr) return nullptr;
        Detail::WriteHeader(raw + Detail::HeaderSize, size, category, 0);
        return raw + Detail::HeaderSize;
    }
    return AllocGeneral(size, category, context);
}

[[gnu::noinline]] void* Allocator::AllocGeneral(std::uint64_t size, AllocationCategory::Enum category,
                                                const ContextInfo& context) {
    if (size > std::numeric_limits<std::uint64_t>::max() - Detail::HeaderSize) return nullptr;
    if (!Detail::FitsHeader(category)) return nullptr;
    Detail::AccountAllocation(category, size);
    IAllocator* active = Active();
    auto* raw = static_cast<unsigned char*>(
        active == &defaultAllocator ? Detail::HeapAlloc(size + Detail::HeaderSize)
                                    : active->Alloc(size + Detail::HeaderSize, category, context));
    if (raw == nullptr) return nullptr;
    unsigned char* user = raw + Detail::HeaderSize;
    Detail::WriteHeader(user, size, category, 0);
    return user;
}

void* Allocator::AllocAligned(std::uint64_t size, std::uint32_t alignment, AllocationCategory::Enum category,
                              const ContextInfo& context) {
    // The header keeps the alignment in 16 bits and the prefix divides by it: anything else could
    // not be released again.
    if (alignment == 0 || alignment > std::numeric_limits<std::uint16_t>::max()) return nullptr;
    if (!Detail::FitsHeader(category)) return nullptr;
    const std::uint64_t prefix = Detail::AlignedPrefix(alignment);
    if (size > std::numeric_limits<std::uint64_t>::max() - prefix) return nullptr;
    Detail::AccountAllocation(category, size);
    auto* raw =
        static_cast<unsigned char*>(Active()->AllocAligned(size + prefix, alignment, category, context));
    if (raw == nullptr) return nullptr;
    unsigned char* user = raw + prefix;
    Detail::WriteHeader(user, size, category, static_cast<std::uint16_t>(alignment));
    return user;
}

// Both release operations look at the header: a block goes back to the IAllocator operation that
// produced it even when the caller picked the other release, and a null pointer is ignored.
[[gnu::noinline]] void Allocator::Release(void* p, const ContextInfo& context) {
    if (p == nullptr) return;
    const Detail::AllocationHeader header = Detail::ReadHeader(p);
    Detail::AccountRelease(header.category, header.size);
    auto* user = static_cast<unsigned char*>(p);
    IAllocator* active = Active();
    if (header.alignment == 0 && active == &defaultAllocator)
        Detail::HeapFree(user - Detail::HeaderSize);
    else if (header.alignment == 0)
        active->Free(user - Detail::HeaderSize, context);
    else
        active->FreeAligned(user - Detail::AlignedPrefix(header.alignment), context);
}

// The short path of Alloc in reverse.
void Allocator::Free(void* p, const ContextInfo& context) {
    if (p == nullptr) return;
    // Category and alignment in one test: a plain block (alignment 0) of a category with a slot of its own.
    const std::uint32_t categoryAndAlignment = Detail::ReadCategoryAndAlignment(p);
    if (categoryAndAlignment < AllocationCategory::Count &&
        ActiveSlot(m_allocator).load(std::memory_order_acquire) == &defaultAllocator &&
        Detail::AddToThreadCounter(
            categoryAndAlignment, -static_cast<std::int64_t>(Detail::AsCounterAmount(Detail::ReadSize(p))))) {
        Detail::HeapFree(static_cast<unsigned char*>(p) - Detail::HeaderSize);
        return;
    }
    Release(p, context);
}

void Allocator::FreeAligned(void* p, const ContextInfo& context) {
    Release(p, context);
}

void Allocator::ValidateHeap() {
    Active()->ValidateHeap();
}

Error::Enum RegisterAllocator(IAllocator* allocator) {
    if (Detail::CoreInitCount().load(std::memory_order_relaxed) != 0) return Error::InvalidState;
    ActiveSlot(processAllocator.m_allocator).store(allocator, std::memory_order_release);
    return Error::Ok;
}

Allocator* GetAllocator() {
    if (Detail::CoreInitCount().load(std::memory_order_relaxed) != 0) processAllocator.Active();
    return &processAllocator;
}

} // namespace Marvane
