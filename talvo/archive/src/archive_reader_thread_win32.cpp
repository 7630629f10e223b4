// Win32 backend of the reader thread: CreateThread and two auto-reset events.

#include "archive/archive_reader.h"
#include "archive_reader_thread.h"

#include <io.h>
#include <new>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

struct ReaderThreadHandles {
    HANDLE data_ready = nullptr;
    HANDLE slot_free = nullptr;
    HANDLE thread = nullptr;
    ArchiveReader* reader = nullptr;
};

namespace {

DWORD WINAPI thread_entry(LPVOID argument) {
    auto* handles = static_cast<ReaderThreadHandles*>(argument);
    reader_thread_main(*handles->reader);
    return 0;
}

void close_handles(ReaderThreadHandles* handles) {
    if (handles->thread) CloseHandle(handles->thread);
    if (handles->data_ready) CloseHandle(handles->data_ready);
    if (handles->slot_free) CloseHandle(handles->slot_free);
    delete handles;
}

} // namespace

int64_t reader_file_bytes_left(FILE* file) {
    struct _stat64 status {};
    if (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return -1;
    const __int64 at = _ftelli64(file);
    return at < 0 ? -1 : static_cast<int64_t>(status.st_size) - static_cast<int64_t>(at);
}

ReaderThreadHandles* reader_thread_create(ArchiveReader& reader) {
    auto* handles = new (std::nothrow) ReaderThreadHandles;
    if (!handles) return nullptr;
    handles->reader = &reader;
    handles->data_ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    handles->slot_free = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!handles->data_ready || !handles->slot_free) {
        close_handles(handles);
        return nullptr;
    }
    reader.handles = handles; // the thread signals through it from its first step
    handles->thread = CreateThread(nullptr, 0, thread_entry, handles, 0, nullptr);
    if (!handles->thread) {
        reader.handles = nullptr;
        close_handles(handles);
        return nullptr;
    }
    return handles;
}

void signal_data_ready(ReaderThreadHandles* handles) {
    SetEvent(handles->data_ready);
}

void wait_data_ready(ReaderThreadHandles* handles) {
    WaitForSingleObject(handles->data_ready, INFINITE);
}

void signal_slot_free(ReaderThreadHandles* handles) {
    SetEvent(handles->slot_free);
}

void wait_slot_free(ReaderThreadHandles* handles) {
    WaitForSingleObject(handles->slot_free, INFINITE);
}

void reader_thread_join_and_release(ReaderThreadHandles* handles) {
    WaitForSingleObject(handles->thread, INFINITE);
    close_handles(handles);
}
