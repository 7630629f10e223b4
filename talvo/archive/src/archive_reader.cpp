#include "archive/archive_reader.h"

#include "archive_reader_thread.h"
#include "coder/zeroed_memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kRingSize = static_cast<size_t>(kReaderSlotSize) * kReaderSlotCount;
// First allocation of a block; it doubles as bytes actually arrive, so a length code that claims more
// than the archive holds costs at most twice what the archive really has.
constexpr size_t kFirstBlockCapacity = size_t{1} << 20;

void keep_tail(ArchiveReader& reader, const uint8_t* bytes, size_t n) {
    reader.input_bytes += n;
    if (n >= kReaderTailSize) {
        std::memcpy(reader.tail, bytes + n - kReaderTailSize, kReaderTailSize);
        reader.tail_length = kReaderTailSize;
        return;
    }
    const size_t keep = std::min(reader.tail_length, kReaderTailSize - n);
    std::memmove(reader.tail, reader.tail + reader.tail_length - keep, keep);
    if (n > 0) std::memcpy(reader.tail + keep, bytes, n);
    reader.tail_length = keep + n;
}

// Fills slot i; a count below the slot size marks the end of the input (a read error included). A
// memory input's slot is the stretch of its bytes it stands for: those bytes stay put, as the bytes of
// a slot left behind must for a step back, and nothing ever writes through a slot.
size_t fill_slot(ArchiveReader& reader, int i) {
    if (reader.source) {
        const int32_t got =
            reader.source->read_bytes(reader.source->context, reader.slots[i], reader.slot_size);
        const size_t n = static_cast<size_t>(std::max(0, got));
        keep_tail(reader, reader.slots[i], n);
        return n;
    }
    if (reader.memory || !reader.file) {
        const size_t left = reader.memory_size - reader.memory_offset;
        const size_t n = std::min(left, static_cast<size_t>(reader.slot_size));
        reader.slots[i] =
            reader.memory ? const_cast<uint8_t*>(reader.memory + reader.memory_offset) : nullptr;
        reader.memory_offset += n;
        if (reader.memory) keep_tail(reader, reader.slots[i], n);
        return n;
    }
    const size_t n = std::fread(reader.slots[i], 1, reader.slot_size, reader.file);
    keep_tail(reader, reader.slots[i], n);
    return n;
}

bool stop_requested(const ArchiveReader& reader) {
    return reader.stop.load(std::memory_order_acquire) != 0;
}

// Fills slot i if it is requested. False when the thread is to end: stop requested, or the input has
// ended (the slot that came back short is the final one).
bool fill_if_requested(ArchiveReader& reader, int i) {
    if (stop_requested(reader)) return false;
    if (reader.slot_state[i].load(std::memory_order_acquire) != kSlotRequested) return true;
    const size_t got = fill_slot(reader, i);
    if (stop_requested(reader)) return false;
    if (got < static_cast<size_t>(reader.slot_size)) {
        reader.final_length.store(static_cast<int32_t>(got), std::memory_order_release);
        reader.finished.store(1, std::memory_order_release);
        reader.slot_state[i].store(kSlotFinal, std::memory_order_release);
        return false;
    }
    reader.slot_state[i].store(kSlotFilled, std::memory_order_release);
    if (reader.handles) signal_data_ready(reader.handles);
    return true;
}

// Fills every requested slot, in slot order; false as fill_if_requested.
bool fill_requested_slots(ArchiveReader& reader) {
    for (int i = 0; i < kReaderSlotCount; ++i)
        if (!fill_if_requested(reader, i)) return false;
    return true;
}

// Moves into the next slot, waits until the reader thread has filled it and asks for the one after.
// The slot just left is not requested again before the main thread has moved two slots further, so a
// step back of one slot always finds its bytes intact.
void enter_next_slot(ArchiveReader& reader) {
    reader.slot_state[reader.slot_index].store(kSlotFree, std::memory_order_release);
    reader.slot_index = (reader.slot_index + 1) % kReaderSlotCount;
    ++reader.slots_entered;
    if (reader.fills_inline) {
        // As the reader thread would: nothing more once the input has ended. A source fills only the
        // slot entered: its bytes may still be on their way, and the slots after it would wait for more.
        if (!reader.finished.load(std::memory_order_relaxed)) {
            if (reader.source)
                fill_if_requested(reader, reader.slot_index);
            else
                fill_requested_slots(reader);
        }
        // Never requested (a read past the final slot): it holds nothing.
        if (reader.slot_state[reader.slot_index].load(std::memory_order_relaxed) < kSlotFilled) {
            reader.exhausted = 1;
            reader.slot_state[reader.slot_index].store(kSlotFinal, std::memory_order_relaxed);
        }
    }
    while (reader.slot_state[reader.slot_index].load(std::memory_order_acquire) < kSlotFilled)
        wait_data_ready(reader.handles);
    reader.slot_data = reader.slots[reader.slot_index]; // a memory input's slot is set by its filling
    const int32_t next = (reader.slot_index + 1) % kReaderSlotCount;
    if (reader.slot_state[next].load(std::memory_order_acquire) == kSlotFree) {
        reader.slot_state[next].store(kSlotRequested, std::memory_order_release);
        if (reader.handles) signal_slot_free(reader.handles);
    }
    reader.slot_pos -= reader.slot_size;
}

void normalise(ArchiveReader& reader) {
    if (reader.slot_pos < 0) {
        reader.slot_index = (reader.slot_index + kReaderSlotCount - 1) % kReaderSlotCount;
        reader.slot_data = reader.slots[reader.slot_index];
        reader.slot_pos += reader.slot_size;
        --reader.slots_entered;
    }
    while (reader.slot_pos >= reader.slot_size)
        enter_next_slot(reader);
}

bool in_final_slot(const ArchiveReader& reader) {
    return reader.finished.load(std::memory_order_acquire) != 0 &&
           reader.slot_state[reader.slot_index].load(std::memory_order_acquire) == kSlotFinal;
}

void advance_taken(ArchiveReader& reader, int32_t n) {
    reader.taken = static_cast<int32_t>(static_cast<uint32_t>(reader.taken) + static_cast<uint32_t>(n));
}

bool source_is_exhausted(void* context) {
    return reader_is_exhausted(*static_cast<ArchiveReader*>(context));
}

int32_t source_read_bytes(void* context, uint8_t* dst, int32_t n) {
    return read_bytes(*static_cast<ArchiveReader*>(context), dst, n);
}

bool start(ArchiveReader& reader) {
    reader.slot_size = reader.source ? kSourceSlotSize : kReaderSlotSize;
    reader.slot_pos = reader.slot_size;
    reader.slot_data = nullptr;
    reader.taken = 0;
    reader.slot_index = kReaderSlotCount - 1;
    for (int i = 0; i < kReaderSlotCount; ++i)
        reader.slot_state[i].store(i < kReaderSlotCount - 1 ? kSlotRequested : kSlotFree,
                                   std::memory_order_relaxed);
    reader.finished.store(0, std::memory_order_relaxed);
    reader.exhausted = 0;
    reader.final_length.store(0, std::memory_order_relaxed);
    reader.stop.store(0, std::memory_order_relaxed);
    reader.memory_offset = 0;
    reader.slots_entered = 0;
    reader.tail_length = 0;
    reader.input_bytes = 0;
    reader.byte_source = ByteSource{&reader, source_is_exhausted, source_read_bytes};
    reader.handles = nullptr;

    for (auto& slot : reader.slots)
        slot = nullptr;
    reader.ring = nullptr;
    if (reader.memory) return true; // its slots point into the bytes themselves
    // Zero pages, as the models get them (one huge page where Linux offers them).
    auto* ring = static_cast<uint8_t*>(allocate_zero_pages(kRingSize));
    if (!ring) return false;
    reader.ring = ring;
    for (int i = 0; i < kReaderSlotCount; ++i)
        reader.slots[i] = ring + static_cast<size_t>(i) * reader.slot_size;
    if (reader.fills_inline) return true;
    // The thread is created last: everything it reads is in place before it starts. The backend sets
    // reader.handles before the thread runs.
    if (!reader_thread_create(reader)) {
        release_zero_pages(ring, kRingSize);
        reader.ring = nullptr;
        for (auto& slot : reader.slots)
            slot = nullptr;
        return false;
    }
    return true;
}

} // namespace

void reader_thread_main(ArchiveReader& reader) {
    while (!stop_requested(reader) && fill_requested_slots(reader))
        wait_slot_free(reader.handles);
    signal_data_ready(reader.handles);
}

bool reader_start_file(ArchiveReader& reader, FILE* file, bool on_this_thread) {
    reader.file = file;
    reader.source = nullptr;
    reader.memory = nullptr;
    reader.memory_size = 0;
    // A file that one slot holds is read whole by the first read, on this thread: a thread to read
    // ahead would have nothing to do but start, and while it runs every unmapped page costs a TLB
    // flush on both processors.
    const int64_t left = file ? reader_file_bytes_left(file) : 0;
    reader.fills_inline = on_this_thread || (left >= 0 && left < kReaderSlotSize);
    return start(reader);
}

bool reader_start_source(ArchiveReader& reader, ByteSource* source) {
    reader.file = nullptr;
    reader.memory = nullptr;
    reader.memory_size = 0;
    reader.source = source;
    reader.fills_inline = true;
    return start(reader);
}

bool reader_start_memory(ArchiveReader& reader, const uint8_t* data, size_t size) {
    reader.file = nullptr;
    reader.source = nullptr;
    reader.memory = data;
    reader.memory_size = data ? size : 0;
    reader.fills_inline = true;
    return start(reader);
}

int32_t read_byte(ArchiveReader& reader) {
    if (reader.exhausted) return -1;
    normalise(reader);
    if (in_final_slot(reader) && reader.slot_pos >= reader.final_length.load(std::memory_order_acquire)) {
        reader.exhausted = 1;
        return -1;
    }
    advance_taken(reader, 1);
    return reader.slot_data[reader.slot_pos++];
}

int32_t read_bytes(ArchiveReader& reader, uint8_t* dst, int32_t n) {
    if (reader.exhausted || n <= 0) return 0;
    normalise(reader);
    int32_t copied = 0;
    for (;;) {
        if (in_final_slot(reader)) {
            const int32_t final_length = reader.final_length.load(std::memory_order_acquire);
            if (final_length - reader.slot_pos < n) {
                const int32_t left = std::max(0, final_length - reader.slot_pos);
                if (left > 0) std::memcpy(dst, reader.slot_data + reader.slot_pos, static_cast<size_t>(left));
                reader.slot_pos += left;
                advance_taken(reader, left);
                reader.exhausted = 1;
                return copied + left;
            }
        }
        const int32_t available = reader.slot_size - reader.slot_pos;
        if (available >= n) {
            std::memcpy(dst, reader.slot_data + reader.slot_pos, static_cast<size_t>(n));
            reader.slot_pos += n;
            advance_taken(reader, n);
            return copied + n;
        }
        std::memcpy(dst, reader.slot_data + reader.slot_pos, static_cast<size_t>(available));
        advance_taken(reader, available);
        dst += available;
        n -= available;
        copied += available;
        reader.slot_pos = reader.slot_size;
        enter_next_slot(reader);
    }
}

uint32_t read_length(ArchiveReader& reader) {
    const uint32_t b0 = static_cast<uint32_t>(read_byte(reader));
    uint32_t value = b0;
    const uint32_t extra = b0 & 3;
    for (uint32_t i = 1; i <= extra; ++i)
        value += static_cast<uint32_t>(read_byte(reader)) << (8 * i);
    return value >> 2;
}

uint8_t* read_block(ArchiveReader& reader, uint32_t& length) {
    length = read_length(reader);
    if (reader.exhausted) return nullptr;
    size_t capacity = std::min<size_t>(length, kFirstBlockCapacity);
    auto* block = static_cast<uint8_t*>(std::malloc(std::max<size_t>(capacity, 1)));
    if (!block) return nullptr;
    size_t filled = 0;
    while (filled < length) {
        if (filled == capacity) {
            capacity = std::min<size_t>(length, capacity * 2);
            auto* grown = static_cast<uint8_t*>(std::realloc(block, capacity));
            if (!grown) {
                std::free(block);
                return nullptr;
            }
            block = grown;
        }
        const auto want = static_cast<int32_t>(capacity - filled);
        const int32_t got = read_bytes(reader, block + filled, want);
        filled += static_cast<size_t>(got);
        if (got < want) {
            std::free(block);
            return nullptr;
        }
    }
    return block;
}

int32_t reader_position(const ArchiveReader& reader) {
    return reader.taken;
}

void reader_set_position(ArchiveReader& reader, int32_t saved) {
    const auto back =
        static_cast<int32_t>(static_cast<uint32_t>(reader.taken) - static_cast<uint32_t>(saved));
    if (back < 0 || static_cast<int64_t>(reader.slot_pos) - back < -static_cast<int64_t>(reader.slot_size))
        return;
    reader.slot_pos -= back;
    reader.taken = saved;
    // A look ahead that ran into the end of the input must not cost the bytes before it: the end is
    // checked again at every read, so the step back makes them readable again.
    if (back > 0) reader.exhausted = 0;
    normalise(reader);
}

bool reader_is_exhausted(const ArchiveReader& reader) {
    return reader.exhausted != 0;
}

uint64_t reader_offset(const ArchiveReader& reader) {
    return static_cast<uint64_t>((reader.slots_entered - 1) * reader.slot_size + reader.slot_pos);
}

bool reader_input_end(const ArchiveReader& reader, const uint8_t*& tail, size_t& tail_length,
                      uint64_t& input_bytes) {
    if (!reader.finished.load(std::memory_order_acquire)) return false;
    tail = reader.tail;
    tail_length = reader.tail_length;
    input_bytes = reader.input_bytes;
    return true;
}

void reader_stop(ArchiveReader& reader) {
    if (reader.handles) {
        reader.stop.store(1, std::memory_order_release);
        if (!reader.finished.load(std::memory_order_acquire)) signal_slot_free(reader.handles);
        reader_thread_join_and_release(reader.handles);
        reader.handles = nullptr;
    }
    // No thread (any more): nothing touches the ring.
    release_zero_pages(reader.ring, kRingSize);
    reader.ring = nullptr;
    for (auto& slot : reader.slots)
        slot = nullptr;
    reader.slot_data = nullptr;
}
