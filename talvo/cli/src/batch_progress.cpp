#include "cli/batch_progress.h"

#include <algorithm>

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr double kMegabyte = 1e6;

} // namespace

BatchProgress::BatchProgress(bool shown, size_t files, uint64_t total_bytes)
    : shown_(shown), files_(files), total_bytes_(total_bytes), start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

void BatchProgress::add_bytes(uint64_t bytes) {
    if (!shown_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    done_bytes_ += bytes;
    draw(false);
}

void BatchProgress::file_done(bool failed) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++(failed ? files_failed_ : files_done_);
    draw(false);
}

bool BatchProgress::print(FILE* stream, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    clear();
    const bool written = std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
    draw(true);
    return written;
}

void BatchProgress::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    clear();
    shown_ = false;
}

void BatchProgress::clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void BatchProgress::draw(bool force) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_draw_ < kRedrawInterval) return;
    last_draw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done_bytes_) / kMegabyte / seconds : 0.0;
    const uint64_t done = std::min(done_bytes_, total_bytes_);
    char left[32] = "?";
    if (done > 0 && seconds > 0.5) {
        const double remaining =
            seconds * static_cast<double>(total_bytes_ - done) / static_cast<double>(done);
        const long whole = static_cast<long>(remaining + 0.5);
        std::snprintf(left, sizeof left, "%ld:%02ld", whole / 60, whole % 60);
    }
    char failed[32] = "";
    if (files_failed_ > 0) std::snprintf(failed, sizeof failed, " (%zu failed)", files_failed_);
    std::fprintf(stderr, "\r%zu/%zu files%s, %.1f/%.1f MB, %.1f MB/s, %s left\033[K", files_done_, files_,
                 failed, static_cast<double>(done) / kMegabyte, static_cast<double>(total_bytes_) / kMegabyte,
                 rate, left);
    std::fflush(stderr);
    drawn_ = true;
}
