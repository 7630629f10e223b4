#include "Marvane/Platform/File.h"
#include "String/Utf8.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Without drive letters, the volume behind a path is the block device of the file system that holds
// it. Its physical sector size is published by the kernel in sysfs, under the whole disk for a
// partition. File systems that report an anonymous device number (btrfs, for one) are traced through
// the mount table to the device they were mounted from.
namespace Marvane::Platform {

namespace {

bool ReadNumberFile(const char* path, u32& value) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[32];
    const ssize_t length = read(fd, text, sizeof(text) - 1);
    close(fd);
    if (length <= 0) return false;
    text[length] = '\0';
    char* end = nullptr;
    const unsigned long number = std::strtoul(text, &end, 10);
    if (end == text || number == 0 || number > 0xFFFFFFFFul) return false;
    value = static_cast<u32>(number);
    return true;
}

// The sector size of a block device, physical where the kernel knows it, else logical.
bool SectorSizeOfDevice(dev_t device, u32& size) {
    char link[64];
    std::snprintf(link, sizeof(link), "/sys/dev/block/%u:%u", major(device), minor(device));
    char disk[PATH_MAX];
    if (realpath(link, disk) == nullptr) return false;

    char probe[PATH_MAX + 32];
    std::snprintf(probe, sizeof(probe), "%s/partition", disk);
    if (access(probe, F_OK) == 0) {
        char* slash = std::strrchr(disk, '/');
        if (slash == nullptr || slash == disk) return false;
        *slash = '\0';
    }
    static const char* const names[] = {"physical_block_size", "logical_block_size"};
    for (const char* name : names) {
        std::snprintf(probe, sizeof(probe), "%s/queue/%s", disk, name);
        if (ReadNumberFile(probe, size)) return true;
    }
    return false;
}

// Mount table fields escape blanks and backslashes as three octal digits.
void Unescape(char* text) {
    char* out = text;
    for (const char* in = text; *in != '\0';) {
        if (in[0] == '\\' && in[1] >= '0' && in[1] <= '7' && in[2] >= '0' && in[2] <= '7' && in[3] >= '0' &&
            in[3] <= '7') {
            *out++ = static_cast<char>(((in[1] - '0') << 6) | ((in[2] - '0') << 3) | (in[3] - '0'));
            in += 4;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}

// One line of /proc/self/mountinfo: "id parent major:minor root mountpoint options... - type source ...".
// Fills `source` when the line describes a mount of `device` from a device node.
bool MountSourceOfLine(char* line, dev_t device, char* source, std::size_t capacity) {
    char* fields[3] = {};
    char* cursor = line;
    for (char*& field : fields) {
        while (*cursor == ' ')
            ++cursor;
        field = cursor;
        while (*cursor != ' ' && *cursor != '\0')
            ++cursor;
        if (*cursor == '\0') return false;
        *cursor++ = '\0';
    }
    char expected[32];
    std::snprintf(expected, sizeof(expected), "%u:%u", major(device), minor(device));
    if (std::strcmp(fields[2], expected) != 0) return false;

    char* separator = std::strstr(cursor, " - ");
    if (separator == nullptr) return false;
    char* type = separator + 3;
    char* start = std::strchr(type, ' ');
    if (start == nullptr) return false;
    ++start;
    char* end = std::strchr(start, ' ');
    if (end != nullptr) *end = '\0';
    if (start[0] != '/' || std::strlen(start) >= capacity) return false;
    std::strcpy(source, start);
    Unescape(source);
    return true;
}

// The block device a file system with the number `device` was mounted from.
bool MountedFromDevice(dev_t device, dev_t& blockDevice) {
    const int fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[8192];
    std::size_t filled = 0;
    bool found = false;
    bool skipping = false; // inside a line too long for the buffer
    for (;;) {
        const ssize_t got = read(fd, buffer + filled, sizeof(buffer) - 1 - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
        std::size_t begin = 0;
        for (std::size_t i = 0; i < filled && !found; ++i) {
            if (buffer[i] != '\n') continue;
            buffer[i] = '\0';
            char source[PATH_MAX];
            struct stat info {};
            if (!skipping && MountSourceOfLine(buffer + begin, device, source, sizeof(source)) &&
                stat(source, &info) == 0 && S_ISBLK(info.st_mode)) {
                blockDevice = info.st_rdev;
                found = true;
            }
            skipping = false;
            begin = i + 1;
        }
        if (found) break;
        if (begin == 0 && filled == sizeof(buffer) - 1) {
            skipping = true;
            filled = 0;
        } else {
            std::memmove(buffer, buffer + begin, filled - begin);
            filled -= begin;
        }
    }
    close(fd);
    return found;
}

// A path that does not exist yet lies on the volume of its nearest existing parent directory.
bool StatNearestExisting(char* path, struct stat& info) {
    for (;;) {
        if (stat(path, &info) == 0) return true;
        if (errno != ENOENT && errno != ENOTDIR) return false;
        char* slash = std::strrchr(path, '/');
        while (slash != nullptr && slash > path && slash[1] == '\0') {
            *slash = '\0'; // a trailing separator names the same entry
            slash = std::strrchr(path, '/');
        }
        if (slash == nullptr) {
            if (std::strcmp(path, ".") == 0) return false;
            std::strcpy(path, ".");
        } else if (slash == path) {
            if (path[1] == '\0') return false;
            path[1] = '\0';
        } else {
            *slash = '\0';
        }
    }
}

} // namespace

Error::Enum GetDeviceBlockSize(const wchar_t* path, u32& size) {
    if (path == nullptr || path[0] == L'\0') return Error::InvalidParameter;
    char narrowPath[PATH_MAX];
    if (!String::Detail::WideToUtf8(path, narrowPath, sizeof(narrowPath), String::Detail::InvalidUnits::Fail))
        return Error::IO;

    struct stat info {};
    if (!StatNearestExisting(narrowPath, info)) return Error::IO;
    // A device node names the device itself rather than the file system it lives on.
    const dev_t device = S_ISBLK(info.st_mode) ? info.st_rdev : info.st_dev;

    u32 found = 0;
    dev_t mounted = 0;
    if (SectorSizeOfDevice(device, found) ||
        (MountedFromDevice(device, mounted) && SectorSizeOfDevice(mounted, found))) {
        size = found;
        return Error::Ok;
    }
    return Error::IO;
}

} // namespace Marvane::Platform
