#include "cli/mapped_file.h"

#include <cerrno>
#include <cstdint>
#include <sys/mman.h>
#include <sys/stat.h>

MapResult map_file(FILE* file, MappedFile& map, int& error, bool read_now) {
    map = MappedFile{};
    struct stat status;
    if (fstat(fileno(file), &status) != 0) {
        error = errno;
        return MapResult::Failed;
    }
    if (!S_ISREG(status.st_mode)) return MapResult::NotRegular;
    if (status.st_size == 0) return MapResult::Mapped;
    if (static_cast<uint64_t>(status.st_size) > SIZE_MAX / 2) {
        error = ENOMEM;
        return MapResult::Failed;
    }
    const size_t size = static_cast<size_t>(status.st_size);
    int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
    if (read_now) flags |= MAP_POPULATE; // read in whole now rather than faulted in page by page
#endif
    void* view = mmap(nullptr, size, PROT_READ, flags, fileno(file), 0);
    if (view == MAP_FAILED) {
        error = errno;
        return MapResult::Failed;
    }
    map.view = view;
    map.data = static_cast<const uint8_t*>(view);
    map.size = size;
    return MapResult::Mapped;
}

void unmap_file(MappedFile& map) {
    if (map.view) munmap(map.view, map.size);
    map = MappedFile{};
}

void release_mapped_pages(const MappedFile& map) {
    // The mapping is read-only: its pages are never private copies, so dropping them loses nothing.
    if (map.view) madvise(map.view, map.size, MADV_DONTNEED);
}
