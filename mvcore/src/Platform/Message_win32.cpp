#include "Marvane/Platform/Message.h"

#include <windows.h>

namespace Marvane::Platform {

Error::Enum ShowMessage(const wchar_t* caption, const wchar_t* text) {
    MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONWARNING);
    return Error::Ok;
}

} // namespace Marvane::Platform
