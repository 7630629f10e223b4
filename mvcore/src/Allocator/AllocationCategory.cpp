#include "Marvane/Allocator.h"

namespace Marvane::AllocationCategory {

const wchar_t* ToString(Enum category) {
    static const wchar_t* const names[Count] = {
        L"Generic",   L"Context",  L"TileSet",
        L"Cache",     L"Buffer",   L"Transcoder",
        L"Temporary", L"Graphics", L"TileSet Backwards compatibility",
    };
    return static_cast<unsigned>(category) < Count ? names[category] : L"Unknown";
}

} // namespace Marvane::AllocationCategory
