#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"

#include <cstdint>
#include <type_traits>
#include <utility>

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#endif

namespace Marvane {

// Appending file writer that lets the caller fill one buffer while the previous one goes to disk: the
// platform's asynchronous file output, used by the performance log and the BMP writer. Implementations
// provide Open, Write, Wait, Close and IsOpen without virtual dispatch; the only virtual operation is
// the destructor, which closes a writer that is still open.
//
// The face of these classes is part of the library's binary interface and kept as it was: the CRTP base
// IAsyncWriter<AsyncWriter_Windows> (one virtual slot, the destructor) and the field order of
// AsyncWriter_Windows (error flag, file handle, event handle, overlapped block); AsyncWriter_Posix keeps
// its fields too. Their operating-system calls are all in the platform layer's sources.
//
// Contract shared by every implementation: Write starts one appending write and returns at once; the
// buffer must stay untouched until the next Write or Wait returns. A write that fails is remembered
// until Close, which then reports IO. There is no lock: one caller at a time.
template <class Implementation> class IAsyncWriter {
  public:
    IAsyncWriter() = default;
    IAsyncWriter(const IAsyncWriter&) = delete;
    IAsyncWriter& operator=(const IAsyncWriter&) = delete;
    // Checked here, where the implementation is complete: without virtual dispatch nothing else would
    // notice an implementation that lacks an operation or gives it another form.
    virtual ~IAsyncWriter() {
        static_assert(
            ProvidesTheOperations<Implementation>(),
            "an IAsyncWriter implementation provides Open, Write, Wait, Close, IsOpen and HasFailed");
    }

  private:
    template <class T> static constexpr bool ProvidesTheOperations() {
        using Writer = T&;
        using Reader = const T&;
        return std::is_same_v<decltype(std::declval<Writer>().Open(static_cast<const wchar_t*>(nullptr))),
                              Error::Enum> &&
               std::is_same_v<decltype(std::declval<Writer>().Write(static_cast<const void*>(nullptr),
                                                                    std::uint64_t{})),
                              Error::Enum> &&
               std::is_same_v<decltype(std::declval<Writer>().Wait()), Error::Enum> &&
               std::is_same_v<decltype(std::declval<Writer>().Close()), Error::Enum> &&
               std::is_same_v<decltype(std::declval<Reader>().IsOpen()), bool> &&
               std::is_same_v<decltype(std::declval<Reader>().HasFailed()), bool>;
    }
};

#if defined(_WIN32)

// Overlapped writes whose offset is all ones, which the system turns into appends at the end of file.
class MARVANE_API AsyncWriter_Windows : public IAsyncWriter<AsyncWriter_Windows> {
  public:
    AsyncWriter_Windows();
    ~AsyncWriter_Windows() override;

    Error::Enum Open(const wchar_t* path);
    Error::Enum Write(const void* buffer, std::uint64_t size);
    Error::Enum Wait();
    Error::Enum Close();
    bool IsOpen() const;
    // A write of the current file could not be issued or failed.
    bool HasFailed() const;

  private:
    std::uint8_t m_errorFlag;
    void* m_file;
    void* m_event;
    std::uint32_t m_pendingBytes;
    // The system's OVERLAPPED block, kept opaque so that this header does not need windows.h.
    alignas(8) unsigned char m_overlapped[32];
};

using AsyncWriter = AsyncWriter_Windows;

#else

// Without overlapped file I/O a background thread performs the appends; the contract is the same.
class MARVANE_API AsyncWriter_Posix : public IAsyncWriter<AsyncWriter_Posix> {
  public:
    AsyncWriter_Posix();
    ~AsyncWriter_Posix() override;

    Error::Enum Open(const wchar_t* path);
    Error::Enum Write(const void* buffer, std::uint64_t size);
    Error::Enum Wait();
    Error::Enum Close();
    bool IsOpen() const;
    // A write of the current file could not be issued or failed.
    bool HasFailed() const;

    // Body of the writer thread.
    void RunWriter();

  private:
    void WaitIdle(std::unique_lock<std::mutex>& lock);

    bool m_errorFlag = false;
    int m_file = -1;
    void* m_worker = nullptr; // the writer thread, started through the platform layer like every other
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    const void* m_pendingBuffer = nullptr;
    std::uint64_t m_pendingSize = 0;
    bool m_busy = false;
    bool m_lastFailed = false;
    bool m_stopping = false;
};

using AsyncWriter = AsyncWriter_Posix;

#endif

} // namespace Marvane
