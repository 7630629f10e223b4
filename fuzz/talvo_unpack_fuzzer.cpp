// The whole unpack run on an archive held in memory. Whatever the bytes, the run must end, with a
// status, without touching memory it does not own, and without writing more than a bounded amount.

#include "unpack/unpacker.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Far above what any input of libFuzzer's lengths can restore honestly: a write past this means the
// unpacker produces output that the archive does not pay for.
constexpr size_t kOutputLimit = size_t{256} << 20;

struct BoundedOutput {
    size_t written = 0;
    OutputSink sink{this, write};

    static bool write(void* context, const uint8_t* /*data*/, size_t size) {
        auto* self = static_cast<BoundedOutput*>(context);
        self->written += size;
        if (self->written > kOutputLimit) std::abort();
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BoundedOutput output;
    const UnpackStatus status = unpack_archive(ArchiveInput{nullptr, data, size}, output.sink);
    // A status the command line has no message for would print nothing and exit 1.
    if (status != UnpackStatus::Ok && unpack_status_message(status)[0] == '\0') std::abort();
    return 0;
}
