#pragma once

// The asynchronous append writer belongs to the platform layer (Marvane/Platform/AsyncWriter.h); this
// path stays for clients that include it from here.
#include "Marvane/Platform/AsyncWriter.h"
