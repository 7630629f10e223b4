#include "Marvane/Error.h"

namespace Marvane::Error {

const wchar_t* ToString(Enum code) {
    static const wchar_t* const names[] = {
        L"Ok",
        L"InvalidParameter",
        L"InvalidState",
        L"OutOfMemory",
        L"IO",
        L"Graphics",
        L"WouldBlock",
        L"NotImplemented",
        L"InvalidBitstream",
        L"InvalidVersion",
        L"UnknownTranscoder",
        L"AlreadyRegistered",
        L"Unknown",
    };
    // Negative values are treated like any other value outside the table.
    const unsigned index = static_cast<unsigned>(code);
    return index < sizeof(names) / sizeof(names[0]) ? names[index] : L"Unknown";
}

} // namespace Marvane::Error
