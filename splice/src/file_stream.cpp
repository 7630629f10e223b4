#include "file_stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace splice_tool {

FileStream& FileStream::operator=(FileStream&& other) noexcept {
    if (this != &other) {
        if (file_) std::fclose(file_);
        file_ = other.file_;
        other.file_ = nullptr;
    }
    return *this;
}

FileStream::~FileStream() {
    if (file_) std::fclose(file_);
}

int FileStream::close() {
    if (!file_) return 0;
    std::FILE* file = file_;
    file_ = nullptr;
    errno = 0;
    int error = 0;
    if (std::fflush(file) != 0) error = errno ? errno : EIO;
    errno = 0;
    if (std::fclose(file) != 0 && error == 0) error = errno ? errno : EIO;
    return error;
}

namespace {

FileStream unbuffered(std::FILE* file, int& error) {
    if (!file) {
        error = errno ? errno : EIO;
        return FileStream();
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    error = 0;
    return FileStream(file);
}

#ifdef _WIN32
std::FILE* open_path(const Path& path, const wchar_t* mode) {
    return _wfopen(path.c_str(), mode);
}
#else
std::FILE* open_path(const Path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}
#endif

} // namespace

FileStream open_for_reading(const Path& path, int& error) {
    errno = 0;
#ifdef _WIN32
    return unbuffered(open_path(path, L"rb"), error);
#else
    return unbuffered(open_path(path, "rb"), error);
#endif
}

FileStream open_for_update(const Path& path, int& error) {
    errno = 0;
#ifdef _WIN32
    return unbuffered(open_path(path, L"r+b"), error);
#else
    return unbuffered(open_path(path, "r+b"), error);
#endif
}

FileStream create_new(const Path& path, int& error) {
    // O_EXCL makes "create only if absent" one step, so a file that appears meanwhile is never
    // truncated either.
    errno = 0;
#ifdef _WIN32
    const int fd = _wopen(path.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return unbuffered(nullptr, error);
    std::FILE* file = _fdopen(fd, "r+b");
    if (!file) {
        const int saved = errno;
        _close(fd);
        errno = saved;
    }
#else
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return unbuffered(nullptr, error);
    std::FILE* file = ::fdopen(fd, "r+b");
    if (!file) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
#endif
    return unbuffered(file, error);
}

bool seek_to(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return false;
    }
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::optional<std::uint64_t> measure_length(std::FILE* file) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return std::nullopt;
    const __int64 end = _ftelli64(file);
#else
    if (::fseeko(file, 0, SEEK_END) != 0) return std::nullopt;
    const off_t end = ::ftello(file);
#endif
    if (end < 0) return std::nullopt;
    if (!seek_to(file, 0)) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

bool same_file(std::FILE* a, std::FILE* b) {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION info_a;
    BY_HANDLE_FILE_INFORMATION info_b;
    const auto handle_a = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(a)));
    const auto handle_b = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(b)));
    if (!GetFileInformationByHandle(handle_a, &info_a) || !GetFileInformationByHandle(handle_b, &info_b))
        return false;
    return info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
           info_a.nFileIndexHigh == info_b.nFileIndexHigh && info_a.nFileIndexLow == info_b.nFileIndexLow;
#else
    struct stat stat_a {};
    struct stat stat_b {};
    if (::fstat(::fileno(a), &stat_a) != 0 || ::fstat(::fileno(b), &stat_b) != 0) return false;
    return stat_a.st_dev == stat_b.st_dev && stat_a.st_ino == stat_b.st_ino;
#endif
}

std::string display_path(const Path& path) {
#ifdef _WIN32
    // The console shows the ANSI code page; characters outside it become '?' instead of failing.
    const std::wstring& wide = path.native();
    if (wide.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                            nullptr);
    return text;
#else
    return path.native();
#endif
}

std::string describe_errno(int error) {
    return std::strerror(error);
}

std::string hex_text(std::uint64_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + text;
}

} // namespace splice_tool
