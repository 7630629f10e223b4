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

// `read_now`: the whole file is read in at once (it is about to be read through anyway); otherwise its
// pages come in as they are touched.
MapResult map_file(FILE* file, MappedFile& map, int& error, bool read_now = true);
void unmap_file(MappedFile& map);
// Lets the pages of the mapping that are in memory go; they are read again from the file when touched.
// Safe while other threads read the mapping.
void release_mapped_pages(const MappedFile& map);
