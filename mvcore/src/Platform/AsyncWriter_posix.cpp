#include "Marvane/Platform/AsyncWriter.h"

#include "Platform/WorkerThread.h"
#include "String/Utf8.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Marvane {

namespace {

void WriterEntry(void* writer) {
    static_cast<AsyncWriter_Posix*>(writer)->RunWriter();
}

} // namespace

AsyncWriter_Posix::AsyncWriter_Posix() = default;

AsyncWriter_Posix::~AsyncWriter_Posix() {
    if (IsOpen()) Close();
}

bool AsyncWriter_Posix::IsOpen() const {
    return m_file >= 0;
}

bool AsyncWriter_Posix::HasFailed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errorFlag;
}

Error::Enum AsyncWriter_Posix::Open(const wchar_t* path) {
    if (IsOpen()) return Error::InvalidState;
    if (path == nullptr) return Error::InvalidParameter;
    char narrow[4096];
    if (!String::Detail::WideToUtf8(path, narrow, sizeof(narrow), String::Detail::InvalidUnits::Fail))
        return Error::IO;
    // O_APPEND makes every write land at the end, like the all-ones offset of overlapped writes.
    const int descriptor = ::open(narrow, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0) return Error::IO;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_errorFlag = false;
        m_lastFailed = false;
        m_busy = false;
        m_stopping = false;
        m_pendingBuffer = nullptr;
        m_pendingSize = 0;
    }
    if (!Platform::Detail::StartThread(WriterEntry, this, m_worker)) {
        ::close(descriptor);
        return Error::Unknown;
    }
    m_file = descriptor;
    return Error::Ok;
}

void AsyncWriter_Posix::WaitIdle(std::unique_lock<std::mutex>& lock) {
    m_changed.wait(lock, [this] { return !m_busy; });
}

Error::Enum AsyncWriter_Posix::Write(const void* buffer, std::uint64_t size) {
    if (!IsOpen() || size == 0) return Error::Ok;
    std::unique_lock<std::mutex> lock(m_mutex);
    WaitIdle(lock);
    m_pendingBuffer = buffer;
    m_pendingSize = size;
    m_busy = true;
    m_changed.notify_all();
    return Error::Ok;
}

Error::Enum AsyncWriter_Posix::Wait() {
    if (!IsOpen()) return Error::Ok;
    std::unique_lock<std::mutex> lock(m_mutex);
    WaitIdle(lock);
    return m_lastFailed ? Error::IO : Error::Ok;
}

Error::Enum AsyncWriter_Posix::Close() {
    if (!IsOpen()) return Error::InvalidState;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        WaitIdle(lock);
        m_stopping = true;
        m_changed.notify_all();
    }
    Platform::Detail::ReleaseEndingThread(m_worker);
    const bool closeFailed = ::close(m_file) != 0;
    m_file = -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errorFlag || closeFailed ? Error::IO : Error::Ok;
}

void AsyncWriter_Posix::RunWriter() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_busy || m_stopping; });
        if (!m_busy) return;
        const auto* bytes = static_cast<const unsigned char*>(m_pendingBuffer);
        std::uint64_t left = m_pendingSize;
        const int descriptor = m_file;
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
        m_lastFailed = failed;
        if (failed) m_errorFlag = true;
        m_busy = false;
        m_changed.notify_all();
    }
}

} // namespace Marvane
