#include "Platform/ProcessBarrier.h"

#include <windows.h>

namespace Marvane::Platform::Detail {

void ProcessWideBarrier() {
    FlushProcessWriteBuffers();
}

} // namespace Marvane::Platform::Detail
