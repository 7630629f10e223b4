// POSIX backend of the reader thread: a pthread, and two auto-reset signals made of a mutex, a
// condition variable and a flag (a signal stays set until one wait consumes it, like a Win32
// auto-reset event, so a wake-up sent before the wait is never lost).

#include "archive/archive_reader.h"
#include "archive_reader_thread.h"

#include <new>
#include <pthread.h>
#include <sys/stat.h>

namespace {

struct AutoResetSignal {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    bool set = false;
};

void raise_signal(AutoResetSignal& signal) {
    pthread_mutex_lock(&signal.mutex);
    signal.set = true;
    pthread_cond_signal(&signal.cond);
    pthread_mutex_unlock(&signal.mutex);
}

void consume_signal(AutoResetSignal& signal) {
    pthread_mutex_lock(&signal.mutex);
    while (!signal.set)
        pthread_cond_wait(&signal.cond, &signal.mutex);
    signal.set = false;
    pthread_mutex_unlock(&signal.mutex);
}

} // namespace

struct ReaderThreadHandles {
    AutoResetSignal data_ready;
    AutoResetSignal slot_free;
    pthread_t thread{};
    ArchiveReader* reader = nullptr;
};

namespace {

void* thread_entry(void* argument) {
    auto* handles = static_cast<ReaderThreadHandles*>(argument);
    reader_thread_main(*handles->reader);
    return nullptr;
}

} // namespace

int64_t reader_file_bytes_left(FILE* file) {
    struct stat status {};
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    const off_t at = ftello(file);
    return at < 0 ? -1 : static_cast<int64_t>(status.st_size) - static_cast<int64_t>(at);
}

ReaderThreadHandles* reader_thread_create(ArchiveReader& reader) {
    auto* handles = new (std::nothrow) ReaderThreadHandles;
    if (!handles) return nullptr;
    handles->reader = &reader;
    reader.handles = handles; // the thread signals through it from its first step
    if (pthread_create(&handles->thread, nullptr, thread_entry, handles) != 0) {
        reader.handles = nullptr;
        delete handles;
        return nullptr;
    }
    return handles;
}

void signal_data_ready(ReaderThreadHandles* handles) {
    raise_signal(handles->data_ready);
}

void wait_data_ready(ReaderThreadHandles* handles) {
    consume_signal(handles->data_ready);
}

void signal_slot_free(ReaderThreadHandles* handles) {
    raise_signal(handles->slot_free);
}

void wait_slot_free(ReaderThreadHandles* handles) {
    consume_signal(handles->slot_free);
}

void reader_thread_join_and_release(ReaderThreadHandles* handles) {
    pthread_join(handles->thread, nullptr);
    pthread_mutex_destroy(&handles->data_ready.mutex);
    pthread_cond_destroy(&handles->data_ready.cond);
    pthread_mutex_destroy(&handles->slot_free.mutex);
    pthread_cond_destroy(&handles->slot_free.cond);
    delete handles;
}
