#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"

#include <cstdint>

namespace Marvane {

// The call site of an allocation or release, handed unchanged to the active IAllocator so that a
// client allocator can attribute memory to code.
struct ContextInfo {
    const char* file;
    std::int32_t line;
    const char* function;
};

#if defined(_MSC_VER)
#define MARVANE_FUNCTION_NAME __FUNCTION__
#else
#define MARVANE_FUNCTION_NAME __PRETTY_FUNCTION__
#endif

// A ContextInfo naming the place where the macro is written.
#define MARVANE_CONTEXT_INFO                                                                                 \
    ::Marvane::ContextInfo {                                                                                 \
        __FILE__, __LINE__, MARVANE_FUNCTION_NAME                                                            \
    }

namespace AllocationCategory {

// Memory categories; each has its own statistic in the performance monitor's group "Memory".
enum Enum : unsigned {
    Generic = 0,
    Context = 1,
    TileSet = 2,
    Cache = 3,
    Buffer = 4,
    Transcoder = 5,
    Temporary = 6,
    Graphics = 7,
    TileSetBackwardsCompatibility = 8,
};

// Number of categories (and of category statistics).
inline constexpr unsigned Count = 9;

// The statistic name of the category ("Generic", "Cache", ...); "Unknown" outside 0..8.
MARVANE_API const wchar_t* ToString(Enum category);

} // namespace AllocationCategory

// The memory source a client may plug in. Slot order is part of the binary interface; the library
// never deletes an IAllocator, so there is deliberately no virtual destructor.
class IAllocator {
  public:
    virtual void* Alloc(std::uint64_t size, AllocationCategory::Enum category,
                        const ContextInfo& context) = 0;
    virtual void Free(void* block, const ContextInfo& context) = 0;
    virtual void* AllocAligned(std::uint64_t size, std::uint32_t alignment, AllocationCategory::Enum category,
                               const ContextInfo& context) = 0;
    virtual void FreeAligned(void* block, const ContextInfo& context) = 0;
    virtual void ValidateHeap() = 0;

  protected:
    IAllocator() = default;
    IAllocator(const IAllocator&) = default;
    IAllocator& operator=(const IAllocator&) = default;
    ~IAllocator() = default;
};

// The run-time heap: malloc/free and the aligned heap. Stateless; category and context are ignored.
class MARVANE_API DefaultAllocator : public IAllocator {
  public:
    constexpr DefaultAllocator() = default;
    void* Alloc(std::uint64_t size, AllocationCategory::Enum category, const ContextInfo& context) override;
    void Free(void* block, const ContextInfo& context) override;
    void* AllocAligned(std::uint64_t size, std::uint32_t alignment, AllocationCategory::Enum category,
                       const ContextInfo& context) override;
    void FreeAligned(void* block, const ContextInfo& context) override;
    void ValidateHeap() override;
};

// Front end of the active IAllocator. Every block it hands out carries a 16-byte header in front of
// the user pointer (size, category, alignment) so that a release can find its category and size
// again for the memory statistics.
class MARVANE_API Allocator {
  public:
    // Copying (and moving) copies the pointer to the active IAllocator.
    constexpr Allocator() = default;

    void* Alloc(std::uint64_t size, AllocationCategory::Enum category, const ContextInfo& context);
    void* AllocAligned(std::uint64_t size, std::uint32_t alignment, AllocationCategory::Enum category,
                       const ContextInfo& context);
    void Free(void* p, const ContextInfo& context);
    void FreeAligned(void* p, const ContextInfo& context);
    void ValidateHeap();

  private:
    friend Error::Enum RegisterAllocator(IAllocator* allocator);
    friend Allocator* GetAllocator();

    IAllocator* Active();
    void* AllocGeneral(std::uint64_t size, AllocationCategory::Enum category, const ContextInfo& context);
    void Release(void* p, const ContextInfo& context);

    IAllocator* m_allocator = nullptr;
};

// Stores the allocator the library will use. Only before InitializeCore (or after the last
// ReleaseCore): InvalidState while the core is initialised.
MARVANE_API Error::Enum RegisterAllocator(IAllocator* allocator);

// The process-wide allocator; once the core is initialised it falls back to the DefaultAllocator.
MARVANE_API Allocator* GetAllocator();

} // namespace Marvane
