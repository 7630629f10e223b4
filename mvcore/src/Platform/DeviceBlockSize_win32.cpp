#include "Marvane/Platform/File.h"

#include <windows.h>
#include <winioctl.h>

#include <versionhelpers.h>

namespace Marvane::Platform {

namespace {

// The access-alignment property (Windows Vista and later) knows the physical sector size; opening the
// volume for its attributes only needs no administrator rights.
bool QueryAccessAlignment(const wchar_t* device, u32& size) {
    HANDLE volume = CreateFileW(device, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return false;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageAccessAlignmentProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment{};
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, 12, &alignment,
                                    sizeof(alignment), &returned, nullptr);
    CloseHandle(volume);
    if (!ok || alignment.BytesPerPhysicalSector == 0) return false;
    size = alignment.BytesPerPhysicalSector;
    return true;
}

// The drive geometry knows only the logical sector size, but every driver answers it.
bool QueryDriveGeometry(const wchar_t* device, u32& size) {
    HANDLE volume =
        CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return false;
    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(volume, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                                    sizeof(geometry), &returned, nullptr);
    CloseHandle(volume);
    if (!ok || geometry.BytesPerSector == 0) return false;
    size = geometry.BytesPerSector;
    return true;
}

} // namespace

Error::Enum GetDeviceBlockSize(const wchar_t* path, u32& size) {
    if (path == nullptr || path[0] == L'\0' || path[1] != L':') return Error::InvalidParameter;
    wchar_t device[] = L"\\\\.\\c:";
    device[4] = path[0];

    // Some drivers (USB bridges among them) do not answer the alignment query; their logical sector size
    // is then still the right alignment for unbuffered transfers.
    u32 found = 0;
    const bool known = (IsWindowsVistaOrGreater() && QueryAccessAlignment(device, found)) ||
                       QueryDriveGeometry(device, found);
    if (!known) return Error::IO;
    size = found;
    return Error::Ok;
}

} // namespace Marvane::Platform
