#pragma once

// A regular file's bytes mapped read-only instead of copied. The packer needs its input whole; a
// mapping takes none of the process's own memory (the system pages the file in and out as it is
// read), so a file larger than the memory the process may use can still be packed where the address
// space holds it.

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct MappedFile {
    const uint8_t* data = nullptr; // null for an empty file
    size_t size = 0;
    void* view = nullptr;
    void* mapping = nullptr; // Windows: the file mapping object behind the view
};

enum class MapResult : uint8_t {
    Mapped,
    NotRegular, // a pipe, a device: read it instead
    Failed,     // `error` holds an errno value (ENOMEM when the address space is full)
};

MapResult map_file(FILE* file, MappedFile& map, int& error);
void unmap_file(MappedFile& map);
