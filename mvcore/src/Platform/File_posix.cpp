#include "Marvane/Platform/File.h"
#include "Platform/FileHandle_posix.h"
#include "String/Utf8.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Marvane::Platform {

using Detail::DescriptorFromHandle;
using Detail::HandleFromDescriptor;

namespace {

// The most one system call transfers: Linux stops at 0x7FFFF000 bytes, and a multiple of every sector
// size keeps unbuffered transfers aligned when a large request is split.
constexpr u64 MaxTransfer = 0x40000000;

int DescriptorOrFail(void* handle) {
    if (handle == nullptr || handle == InvalidFileHandle()) return -1;
    return DescriptorFromHandle(handle);
}

// The descriptor numbers 0 to 2 are the standard streams; when one of them was closed, open() may hand
// it out again, and 0 would look like a null handle. Such a descriptor is moved out of the way.
int AwayFromStandardStreams(int fd) {
    if (fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

int OpenFlags(bool unbuffered, bool write) {
    int flags = O_CLOEXEC | (write ? (O_WRONLY | O_CREAT) : O_RDONLY);
#ifdef O_DIRECT
    if (unbuffered) flags |= O_DIRECT;
#else
    (void)unbuffered;
#endif
    return flags;
}

// Sharing rules of the Windows implementation, kept among cooperating processes: readers share,
// a writer excludes everybody. A file system without flock support keeps no rules.
bool TakeSharingLock(int fd, bool write) {
    while (flock(fd, (write ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return errno != EWOULDBLOCK;
    }
    return true;
}

// Transfers `size` bytes at the current position and moves it past them; pipes and other unseekable
// files are served in stream order. Returns the count moved; `failed` tells an error from an end.
template <typename Transfer> u64 TransferAtPosition(int fd, u64 size, bool& failed, Transfer transfer) {
    failed = false;
    const off_t start = lseek(fd, 0, SEEK_CUR);
    const bool seekable = start >= 0;
    if (!seekable && errno != ESPIPE) {
        failed = true;
        return 0;
    }
    u64 done = 0;
    while (done < size) {
        const u64 chunk = size - done < MaxTransfer ? size - done : MaxTransfer;
        const ssize_t moved = transfer(done, chunk, seekable ? start + static_cast<off_t>(done) : -1);
        if (moved < 0) {
            if (errno == EINTR) continue;
            failed = true;
            break;
        }
        if (moved == 0) break;
        done += static_cast<u64>(moved);
    }
    if (seekable && lseek(fd, start + static_cast<off_t>(done), SEEK_SET) < 0) failed = true;
    return done;
}

} // namespace

Error::Enum OpenFile(const wchar_t* path, bool unbuffered, bool write, void*& handle) {
    handle = InvalidFileHandle();
    char narrowPath[PATH_MAX];
    if (!String::Detail::WideToUtf8(path, narrowPath, sizeof(narrowPath), String::Detail::InvalidUnits::Fail))
        return Error::IO;

    int fd = open(narrowPath, OpenFlags(unbuffered, write), 0666);
    if (fd < 0) return Error::IO;
    fd = AwayFromStandardStreams(fd);
    if (fd < 0) return Error::IO;

    // Windows opens no directories as files; neither do we.
    struct stat info {};
    const bool usable = fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode) && TakeSharingLock(fd, write) &&
                        (!write || ftruncate(fd, 0) == 0);
    if (!usable) {
        close(fd);
        return Error::IO;
    }
    // Streaming reads jump around; read-ahead would only waste bandwidth.
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    handle = HandleFromDescriptor(fd);
    return Error::Ok;
}

Error::Enum CloseFile(void* handle) {
    const int fd = DescriptorOrFail(handle);
    if (fd >= 0) close(fd);
    return Error::Ok;
}

Error::Enum ReadFile(void* handle, void* buffer, u32 size, u32& read) {
    read = 0;
    const int fd = DescriptorOrFail(handle);
    if (fd < 0 || (buffer == nullptr && size != 0)) return Error::IO;
    auto* bytes = static_cast<unsigned char*>(buffer);
    bool failed = false;
    const u64 done = TransferAtPosition(fd, size, failed, [&](u64 at, u64 count, off_t offset) {
        return offset >= 0 ? pread(fd, bytes + at, count, offset) : ::read(fd, bytes + at, count);
    });
    read = static_cast<u32>(done);
    return !failed && done == size ? Error::Ok : Error::IO;
}

Error::Enum WriteFile(void* handle, void* buffer, u64 size) {
    if (handle == nullptr || buffer == nullptr || size == 0) return Error::InvalidParameter;
    const int fd = DescriptorOrFail(handle);
    if (fd < 0) return Error::IO;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    bool failed = false;
    const u64 done = TransferAtPosition(fd, size, failed, [&](u64 at, u64 count, off_t offset) {
        return offset >= 0 ? pwrite(fd, bytes + at, count, offset) : ::write(fd, bytes + at, count);
    });
    return !failed && done == size ? Error::Ok : Error::IO;
}

Error::Enum SeekFile(void* handle, u64& offset) {
    const int fd = DescriptorOrFail(handle);
    if (fd < 0 || offset > static_cast<u64>(INT64_MAX)) return Error::IO;
    return lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0 ? Error::IO : Error::Ok;
}

} // namespace Marvane::Platform
