#pragma once

// The stream layer's side of the driver's OutputSink (driver/output_sink.h): finished pages and
// repeated records go out through sink_write, one call each. memory_sink and file_sink make sinks for
// tests, benchmarks and the packer's in-memory proof.

#include "driver/output_sink.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// An output without a writer takes nothing.
inline bool sink_write(const OutputSink& sink, const uint8_t* bytes, size_t n) {
    return sink.write ? sink.write(sink.context, bytes, n) : true;
}

inline OutputSink memory_sink(std::vector<uint8_t>* out) {
    return vector_output_sink(*out);
}

inline OutputSink file_sink(FILE* file) {
    OutputSink sink;
    sink.context = file;
    sink.write = [](void* f, const uint8_t* b, size_t n) {
        return std::fwrite(b, 1, n, static_cast<FILE*>(f)) == n;
    };
    return sink;
}
