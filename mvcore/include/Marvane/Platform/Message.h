#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"

namespace Marvane::Platform {

// Shows `text` to the user with `caption` as its title and waits for it to be acknowledged: a modal
// warning message box with one OK button on Windows; on other systems one line "caption: text" on
// standard error. Always Ok.
MARVANE_API Error::Enum ShowMessage(const wchar_t* caption, const wchar_t* text);

} // namespace Marvane::Platform
