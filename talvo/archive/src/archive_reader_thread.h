#pragma once

// The seam between the archive reader and the platform: one worker thread and two auto-reset wake-up
// signals. archive_reader_thread_posix.cpp and archive_reader_thread_win32.cpp implement it.

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct ArchiveReader;
struct ReaderThreadHandles;

// The bytes of a regular file from its current position to its end; -1 for a pipe, a terminal or
// anything else whose size is unknown.
int64_t reader_file_bytes_left(FILE* file);

// Creates both signals (non-signalled), then starts a thread that runs reader_thread_main(reader).
// Returns nullptr, with everything released, on failure.
ReaderThreadHandles* reader_thread_create(ArchiveReader& reader);

void signal_data_ready(ReaderThreadHandles* handles);
void wait_data_ready(ReaderThreadHandles* handles);
void signal_slot_free(ReaderThreadHandles* handles);
void wait_slot_free(ReaderThreadHandles* handles);

// Waits until the thread has exited, then releases the signals and the thread.
void reader_thread_join_and_release(ReaderThreadHandles* handles);
