#include "Marvane/Performance/AsyncWriter.h"

#include "PerformanceMonitor/WideText.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace Marvane {

AsyncWriter_Posix::AsyncWriter_Posix() = default;

AsyncWriter_Posix::~AsyncWriter_Posix() {
    if (IsOpen()) Close();
}

bool AsyncWriter_Posix::IsOpen() const {
    return file >= 0;
}

bool AsyncWriter_Posix::HasFailed() const {
    std::lock_guard<std::mutex> lock(mutex);
    return errorFlag;
}

Error::Enum AsyncWriter_Posix::Open(const wchar_t* path) {
    if (IsOpen()) return Error::InvalidState;
    if (path == nullptr) return Error::InvalidParameter;
    char narrow[4096];
    if (Performance::Detail::WideToUtf8(path, narrow, sizeof(narrow)) == 0) return Error::IO;
    // O_APPEND makes every write land at the end, like the all-ones offset of overlapped writes.
    const int descriptor = ::open(narrow, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0) return Error::IO;
    {
        std::lock_guard<std::mutex> lock(mutex);
        errorFlag = false;
        lastFailed = false;
        busy = false;
        stopping = false;
        pendingBuffer = nullptr;
        pendingSize = 0;
    }
    try {
        worker = std::thread(&AsyncWriter_Posix::WriterLoop, this);
    } catch (const std::system_error&) {
        ::close(descriptor);
        return Error::Unknown;
    }
    file = descriptor;
    return Error::Ok;
}

void AsyncWriter_Posix::WaitIdle(std::unique_lock<std::mutex>& lock) {
    changed.wait(lock, [this] { return !busy; });
}

Error::Enum AsyncWriter_Posix::Write(const void* buffer, std::uint64_t size) {
    if (!IsOpen() || size == 0) return Error::Ok;
    std::unique_lock<std::mutex> lock(mutex);
    WaitIdle(lock);
    pendingBuffer = buffer;
    pendingSize = size;
    busy = true;
    changed.notify_all();
    return Error::Ok;
}

Error::Enum AsyncWriter_Posix::Wait() {
    if (!IsOpen()) return Error::Ok;
    std::unique_lock<std::mutex> lock(mutex);
    WaitIdle(lock);
    return lastFailed ? Error::IO : Error::Ok;
}

Error::Enum AsyncWriter_Posix::Close() {
    if (!IsOpen()) return Error::InvalidState;
    {
        std::unique_lock<std::mutex> lock(mutex);
        WaitIdle(lock);
        stopping = true;
        changed.notify_all();
    }
    worker.join();
    const bool closeFailed = ::close(file) != 0;
    file = -1;
    std::lock_guard<std::mutex> lock(mutex);
    return errorFlag || closeFailed ? Error::IO : Error::Ok;
}

void AsyncWriter_Posix::WriterLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return busy || stopping; });
        if (!busy) return;
        const auto* bytes = static_cast<const unsigned char*>(pendingBuffer);
        std::uint64_t left = pendingSize;
        const int descriptor = file;
        lock.unlock();
        bool failed = false;
        while (left > 0) {
            const ssize_t written = ::write(descriptor, bytes, left);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                failed = true;
                break;
            }
            bytes += written;
            left -= static_cast<std::uint64_t>(written);
        }
        lock.lock();
        lastFailed = failed;
        if (failed) errorFlag = true;
        busy = false;
        changed.notify_all();
    }
}

} // namespace Marvane
