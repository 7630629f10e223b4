#include "Marvane/Utilities/Crc32Calculation.h"

#include "Utilities/Crc32Tables.h"

namespace Marvane::Utilities {

unsigned int Crc32Calculation::AddBytes(const void* data, std::uint64_t size) {
    if (data == nullptr || size == 0) return 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t reg = RunningRegister;
    if (!Crc32Detail::UpdateCarryless(reg, bytes, size)) reg = Crc32Detail::UpdateSlicing16(reg, bytes, size);
    RunningRegister = reg;
    LastResult = ~reg;
    return LastResult;
}

} // namespace Marvane::Utilities
