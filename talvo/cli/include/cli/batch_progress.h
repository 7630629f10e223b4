#pragma once

// One progress line for a whole batch of files on a terminal: files done, megabytes, rate and time
// left, redrawn at most a few times a second from whichever worker made progress. Messages printed
// through it clear the line first and redraw it after.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

class BatchProgress {
  public:
    // `shown`: stderr is a terminal and the user did not ask for quiet.
    BatchProgress(bool shown, size_t files, uint64_t total_bytes);
    bool shown() const { return shown_; }
    void add_bytes(uint64_t bytes);
    // A file finished; `failed` files are counted apart, never as done.
    void file_done(bool failed = false);
    // Prints to `stream` (stdout or stderr) without mangling the line; false (errno set) when the
    // stream refused the text.
    bool print(FILE* stream, const std::string& text);
    void finish();

  private:
    void draw(bool force); // the mutex held
    void clear();          // the mutex held

    std::mutex mutex_;
    bool shown_;
    bool drawn_ = false;
    size_t files_;
    size_t files_done_ = 0;
    size_t files_failed_ = 0;
    uint64_t total_bytes_;
    uint64_t done_bytes_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
};
