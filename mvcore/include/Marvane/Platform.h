#pragma once

// The whole platform layer: every operating-system service the library uses.
#include "Marvane/Platform/Atomic.h"
#include "Marvane/Platform/CriticalSection.h"
#include "Marvane/Platform/DynamicLibrary.h"
#include "Marvane/Platform/File.h"
#include "Marvane/Platform/Memory.h"
#include "Marvane/Platform/Message.h"
#include "Marvane/Platform/TLSVariable.h"
#include "Marvane/Platform/Time.h"
#include "Marvane/Platform/Types.h"
