#pragma once

#include "file_stream.h"
#include "where_argument.h"

namespace splice_tool {

struct SpliceRequest {
    Path target;
    Path source;
    Where where;
};

// Writes the whole source into the target at the requested place. An existing target keeps every byte
// outside the written stretch and is never truncated; a missing one is created, and removed again if
// the run fails. Throws SpliceError on any failure.
void run_splice(const SpliceRequest& request);

} // namespace splice_tool
