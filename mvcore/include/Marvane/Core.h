#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"

#include <cstdint>

namespace Marvane {

// Counts one more start-up of the library and (re)initialises the graphics driver. Always Ok; the
// argument is reserved.
MARVANE_API Error::Enum InitializeCore(std::int64_t reserved);

// Counts one release; true when this was the last one. Nothing is torn down. A release without a
// matching InitializeCore changes nothing, returns false and reports InvalidState to the log manager.
MARVANE_API bool ReleaseCore();

// True between the first InitializeCore and the matching last ReleaseCore.
MARVANE_API bool IsCoreInitialized();

} // namespace Marvane
