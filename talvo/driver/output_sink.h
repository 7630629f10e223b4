#pragma once

// Where restored bytes go: a file created only once the archive header has been accepted, or a byte
// vector (the packer's in-memory verification, fuzzing).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

struct OutputSink {
    void* context = nullptr;
    bool (*begin)(void* context) = nullptr; // called once, after the header; false: cannot create
    bool (*write)(void* context, const uint8_t* data, size_t size) = nullptr; // false: write failed
};

struct FileOutput {
    const char* path = nullptr;
    FILE* file = nullptr; // opened "wb" by begin
};

OutputSink file_output_sink(FileOutput& output);
// Closes the file if it was opened; false when buffered bytes could not be written.
bool close_file_output(FileOutput& output);

OutputSink vector_output_sink(std::vector<uint8_t>& bytes);
