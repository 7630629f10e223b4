#include "pack/verify_pipe.h"

#include "archive/archive_format.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// The control sub-stream that holds item `item`'s decisions and all before them, once there is one:
// what was written out since `piped` last came, and the flush after it.
bool control_through(void* context, uint64_t item, PipedControl& piped) {
    auto& pipe = *static_cast<VerifyPipe*>(context);
    std::unique_lock<std::mutex> lock(pipe.mutex);
    pipe.more.wait(lock, [&] { return pipe.abandoned || pipe.finished || pipe.items_coded > item; });
    if (pipe.abandoned || piped.settled > pipe.control.size()) return false;
    const size_t length = pipe.control.size() + pipe.control_flush.size();
    if (length > piped.capacity) {
        const size_t capacity = std::max(length, 2 * piped.capacity);
        auto* grown = static_cast<uint8_t*>(std::realloc(piped.bytes, capacity));
        if (!grown) return false;
        piped.bytes = grown;
        piped.capacity = capacity;
    }
    std::copy(pipe.control.begin() + static_cast<std::ptrdiff_t>(piped.settled), pipe.control.end(),
              piped.bytes + piped.settled);
    std::copy(pipe.control_flush.begin(), pipe.control_flush.end(), piped.bytes + pipe.control.size());
    piped.length = length;
    piped.settled = pipe.control.size();
    piped.items = pipe.items_coded;
    piped.whole = pipe.finished;
    return true;
}

// The items from the file, then the tail: they wait until `n` bytes are there or the archive is whole.
int32_t read_items(void* context, uint8_t* dst, int32_t n) {
    auto& pipe = *static_cast<VerifyPipe*>(context);
    const auto wanted = static_cast<uint64_t>(n);
    uint64_t items = 0;
    bool finished = false;
    {
        std::unique_lock<std::mutex> lock(pipe.mutex);
        pipe.more.wait(
            lock, [&] { return pipe.abandoned || pipe.finished || pipe.items - pipe.items_taken >= wanted; });
        if (pipe.abandoned) return 0;
        items = pipe.items;
        finished = pipe.finished;
    }
    // The published bytes are final: the file is read outside the lock while the pass writes on.
    const auto from_file = static_cast<size_t>(std::min(wanted, items - pipe.items_taken));
    if (from_file > 0) {
        if (pipe.read_failed || !seek_file(pipe.items_file, pipe.items_taken) ||
            std::fread(dst, 1, from_file, pipe.items_file) != from_file) {
            pipe.read_failed = true;
            return 0;
        }
        pipe.items_taken += from_file;
    }
    size_t given = from_file;
    if (finished && given < wanted) {
        const size_t from_tail =
            std::min(static_cast<size_t>(wanted) - given, pipe.tail.size() - pipe.tail_taken);
        if (from_tail > 0) { // an empty tail has no bytes to point at
            std::memcpy(dst + given, pipe.tail.data() + pipe.tail_taken, from_tail);
            pipe.tail_taken += from_tail;
            given += from_tail;
        }
    }
    return static_cast<int32_t>(given);
}

bool items_exhausted(void* /*context*/) {
    return false; // the reader learns of the end from a short read
}

uint64_t control_block_bytes(void* context) {
    auto& pipe = *static_cast<VerifyPipe*>(context);
    std::lock_guard<std::mutex> lock(pipe.mutex);
    return pipe.control_block_bytes;
}

} // namespace

bool pipe_abandoned(VerifyPipe& pipe) {
    std::lock_guard<std::mutex> lock(pipe.mutex);
    return pipe.abandoned;
}

void pipe_open(VerifyPipe& pipe, FILE* items_file) {
    pipe.items_file = items_file;
    // No read-ahead: bytes past what is published may still change, or not be there yet.
    std::setvbuf(items_file, nullptr, _IONBF, 0);
}

bool pipe_publish(VerifyPipe& pipe, ArchiveWriter& writer) {
    // Only the pass abandons the pipe, and nothing it publishes afterwards is read: no flushing for it.
    if (pipe_abandoned(pipe)) return true;
    if (!writer_flush_spool(writer)) {
        pipe_abandon(pipe);
        return false;
    }
    // The decisions so far, written out as the end of the archive would write them: a decoder of the
    // bytes out and these takes them all. Writing out only adds to what is out. Zeros after them stand
    // for nothing and keep the decoder, which reads a few bytes ahead, from ever reaching their end.
    const RangeEncoder& control = writer.control;
    RangeEncoder rest;
    rest.low = control.low;
    rest.range = control.range;
    rest.cache = control.cache;
    rest.cache_size = control.cache_size;
    rest.first_byte_pending = control.first_byte_pending;
    flush_encoder(rest);
    rest.out.insert(rest.out.end(), 4, 0);
    {
        std::lock_guard<std::mutex> lock(pipe.mutex);
        pipe.control.insert(pipe.control.end(),
                            control.out.begin() + static_cast<std::ptrdiff_t>(pipe.control.size()),
                            control.out.end());
        pipe.control_flush = std::move(rest.out);
        pipe.items_coded = writer.items_coded;
        pipe.items = writer.spooled;
    }
    pipe.more.notify_all();
    return true;
}

void pipe_finish(VerifyPipe& pipe, const std::vector<uint8_t>& head, uint64_t items,
                 std::vector<uint8_t> tail) {
    // The head is the magic, the flags byte and the control block: a length code (its low two bits
    // count the bytes after the first) and the control sub-stream.
    const size_t block = head.size() - kArchiveHeaderSize;
    const size_t code = head.size() > kArchiveHeaderSize ? 1 + (head[kArchiveHeaderSize] & 3u) : block + 1;
    {
        std::lock_guard<std::mutex> lock(pipe.mutex);
        const uint8_t* control = head.data() + kArchiveHeaderSize + code;
        const size_t length = code <= block ? block - code : 0;
        if (code > block) {
            pipe.abandoned = true;
        } else {
            pipe.control.assign(control, control + length);
            pipe.control_flush.clear();
            pipe.items = items;
            pipe.tail = std::move(tail);
            pipe.control_block_bytes = block;
            pipe.finished = true;
        }
    }
    pipe.more.notify_all();
}

void pipe_abandon(VerifyPipe& pipe) {
    {
        std::lock_guard<std::mutex> lock(pipe.mutex);
        pipe.abandoned = true;
    }
    pipe.more.notify_all();
}

ArchivePipe pipe_source(VerifyPipe& pipe) {
    ArchivePipe source;
    source.control_through = control_through;
    source.items = ByteSource{&pipe, items_exhausted, read_items};
    source.control_block_bytes = control_block_bytes;
    source.context = &pipe;
    return source;
}

bool pipe_read_as_archive(VerifyPipe& pipe, const ArchivePipe& source) {
    std::lock_guard<std::mutex> lock(pipe.mutex);
    return pipe.finished && !pipe.abandoned && !pipe.read_failed && source.control_proved;
}
