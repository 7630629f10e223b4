#pragma once

// Where finished pages and repeated streams go: the output file when restoring, memory when the packer
// proves an archive by restoring it. One call per page or per repeated record.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

struct OutputSink {
    void* context = nullptr;
    bool (*write)(void* context, const uint8_t* bytes, size_t n) = nullptr;
};

inline bool sink_write(const OutputSink& sink, const uint8_t* bytes, size_t n) {
    return sink.write ? sink.write(sink.context, bytes, n) : true;
}

inline OutputSink file_sink(FILE* file) {
    return OutputSink{file, [](void* f, const uint8_t* b, size_t n) {
                          return std::fwrite(b, 1, n, static_cast<FILE*>(f)) == n;
                      }};
}

inline OutputSink memory_sink(std::vector<uint8_t>* out) {
    return OutputSink{out, [](void* v, const uint8_t* b, size_t n) {
                          auto* vec = static_cast<std::vector<uint8_t>*>(v);
                          vec->insert(vec->end(), b, b + n);
                          return true;
                      }};
}
