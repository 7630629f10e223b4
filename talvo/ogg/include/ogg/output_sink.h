#pragma once

// Where restored bytes go: finished pages, repeated records and raw items each go out in one write.
// The unpacking run hands one sink down to every layer that writes; a file (the talvo program) or a
// byte vector (the packer's in-memory verification, fuzzing, tests) stands behind it.

#include <cstddef>
#include <cstdint>
#include <vector>

struct OutputSink {
    void* context = nullptr;
    bool (*write)(void* context, const uint8_t* bytes, size_t n) = nullptr; // false: the write failed
};

// A sink without a writer takes everything and keeps nothing.
inline bool sink_write(const OutputSink& sink, const uint8_t* bytes, size_t n) {
    return sink.write ? sink.write(sink.context, bytes, n) : true;
}

// Appends to `bytes`; a write fails when memory runs out.
OutputSink vector_sink(std::vector<uint8_t>& bytes);
