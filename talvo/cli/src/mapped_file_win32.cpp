#include "cli/mapped_file.h"

#include <cerrno>
#include <cstdint>
#include <io.h>
#include <windows.h>

namespace {

int errno_for(DWORD error) {
    switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
        return ENOMEM;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    default:
        return EIO;
    }
}

} // namespace

MapResult map_file(FILE* file, MappedFile& map, int& error, bool /*read_now*/) {
    map = MappedFile{};
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return MapResult::NotRegular;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) {
        error = errno_for(GetLastError());
        return MapResult::Failed;
    }
    if (size.QuadPart == 0) return MapResult::Mapped;
    if (static_cast<uint64_t>(size.QuadPart) > SIZE_MAX / 2) {
        error = ENOMEM;
        return MapResult::Failed;
    }
    const HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) {
        error = errno_for(GetLastError());
        return MapResult::Failed;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!view) {
        error = errno_for(GetLastError());
        CloseHandle(mapping);
        return MapResult::Failed;
    }
    map.view = view;
    map.mapping = mapping;
    map.data = static_cast<const uint8_t*>(view);
    map.size = static_cast<size_t>(size.QuadPart);
    return MapResult::Mapped;
}

void unmap_file(MappedFile& map) {
    if (map.view) UnmapViewOfFile(map.view);
    if (map.mapping) CloseHandle(static_cast<HANDLE>(map.mapping));
    map = MappedFile{};
}

void release_mapped_pages(const MappedFile& map) {
    // Unlocking pages that are not locked takes them out of the process's working set.
    if (map.view) VirtualUnlock(map.view, map.size);
}
