#include "ogg/output_sink.h"

#include <new>

namespace {

bool vector_write(void* context, const uint8_t* bytes, size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    try {
        out->insert(out->end(), bytes, bytes + n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace

OutputSink vector_sink(std::vector<uint8_t>& bytes) {
    return OutputSink{&bytes, vector_write};
}
