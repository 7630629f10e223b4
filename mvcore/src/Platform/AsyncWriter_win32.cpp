#include "Marvane/Platform/AsyncWriter.h"

#include <cstring>
#include <windows.h>

namespace Marvane {

namespace {

static_assert(sizeof(OVERLAPPED) <= 32, "overlapped block storage too small");

OVERLAPPED* Block(unsigned char* storage) {
    return reinterpret_cast<OVERLAPPED*>(storage);
}

// Offset all ones: the system appends each write at the end of the file.
void PrepareAppend(OVERLAPPED* block, HANDLE event) {
    std::memset(block, 0, sizeof(*block));
    block->hEvent = event;
    block->Offset = 0xFFFFFFFFu;
    block->OffsetHigh = 0xFFFFFFFFu;
}

} // namespace

AsyncWriter_Windows::AsyncWriter_Windows()
    : m_errorFlag(0), m_file(INVALID_HANDLE_VALUE), m_event(INVALID_HANDLE_VALUE), m_pendingBytes(0) {
    std::memset(m_overlapped, 0, sizeof(m_overlapped));
}

AsyncWriter_Windows::~AsyncWriter_Windows() {
    if (IsOpen()) Close();
}

bool AsyncWriter_Windows::IsOpen() const {
    return m_file != INVALID_HANDLE_VALUE;
}

bool AsyncWriter_Windows::HasFailed() const {
    return m_errorFlag != 0;
}

Error::Enum AsyncWriter_Windows::Open(const wchar_t* path) {
    if (IsOpen()) return Error::InvalidState;
    if (path == nullptr) return Error::InvalidParameter;
    m_file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return Error::IO;
    // Manual reset, initially signalled: nothing is outstanding yet.
    HANDLE created = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (created == nullptr) {
        CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
        return Error::Unknown;
    }
    m_event = created;
    m_errorFlag = 0;
    m_pendingBytes = 0;
    PrepareAppend(Block(m_overlapped), m_event);
    return Error::Ok;
}

Error::Enum AsyncWriter_Windows::Wait() {
    if (!IsOpen()) return Error::Ok;
    WaitForSingleObject(m_event, INFINITE);
    DWORD written = 0;
    const BOOL finished = GetOverlappedResult(m_file, Block(m_overlapped), &written, FALSE);
    if (!finished || written != m_pendingBytes) {
        m_errorFlag = 1;
        m_pendingBytes = 0;
        return Error::IO;
    }
    return Error::Ok;
}

Error::Enum AsyncWriter_Windows::Write(const void* buffer, std::uint64_t size) {
    if (!IsOpen() || size == 0) return Error::Ok;
    Wait();
    ResetEvent(m_event);
    PrepareAppend(Block(m_overlapped), m_event);
    m_pendingBytes = static_cast<DWORD>(size);
    const BOOL done = WriteFile(m_file, buffer, static_cast<DWORD>(size), nullptr, Block(m_overlapped));
    if (done || GetLastError() == ERROR_IO_PENDING) return Error::Ok;
    // Nothing is outstanding: signal the event again so that the next wait does not hang.
    m_errorFlag = 1;
    m_pendingBytes = 0;
    SetEvent(m_event);
    return Error::IO;
}

Error::Enum AsyncWriter_Windows::Close() {
    if (!IsOpen()) return Error::InvalidState;
    // Closing under an outstanding write would leave the system writing from a buffer the caller reuses.
    Wait();
    CloseHandle(m_event);
    CloseHandle(m_file);
    m_event = INVALID_HANDLE_VALUE;
    m_file = INVALID_HANDLE_VALUE;
    return m_errorFlag != 0 ? Error::IO : Error::Ok;
}

} // namespace Marvane
