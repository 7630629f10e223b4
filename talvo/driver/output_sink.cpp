#include "driver/output_sink.h"

#include <new>

namespace {

bool file_begin(void* context) {
    auto* output = static_cast<FileOutput*>(context);
    output->file = std::fopen(output->path, "wb");
    return output->file != nullptr;
}

bool file_write(void* context, const uint8_t* data, size_t size) {
    auto* output = static_cast<FileOutput*>(context);
    return std::fwrite(data, 1, size, output->file) == size;
}

bool vector_begin(void* /*context*/) {
    return true;
}

bool vector_write(void* context, const uint8_t* data, size_t size) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(context);
    try {
        bytes->insert(bytes->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace

OutputSink file_output_sink(FileOutput& output) {
    return OutputSink{&output, file_begin, file_write};
}

bool close_file_output(FileOutput& output) {
    if (!output.file) return true;
    const bool ok = std::fclose(output.file) == 0;
    output.file = nullptr;
    return ok;
}

OutputSink vector_output_sink(std::vector<uint8_t>& bytes) {
    return OutputSink{&bytes, vector_begin, vector_write};
}
