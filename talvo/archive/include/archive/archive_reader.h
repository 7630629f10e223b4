#pragma once

// Archive input: everything after the seven header bytes is read through one ArchiveReader. A reader
// thread fills a ring of four 512 KiB slots ahead of the decoder; the main thread takes bytes from the
// ring and may step back by up to one slot (a page read ahead and returned from). Bytes in memory, and
// a file smaller than one slot, need no thread: their slots are filled on the calling thread when it
// enters them, so an in-memory run (the packer's verification, on the packer's own workers) or a small
// archive starts no thread of its own; so are the smaller slots of a source whose bytes are still
// arriving.

#include "coder/range_decoder.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int32_t kReaderSlotSize = 524288;
constexpr int kReaderSlotCount = 4;
// The slots of a source whose bytes arrive while they are read (the verification beside the packer's
// pass): a slot is handed over only when whole, so a smaller one keeps the reader from waiting for bytes
// far beyond those it needs. A step back (a page read ahead, at most 65,307 bytes) still fits in one.
constexpr int32_t kSourceSlotSize = 65536;
static_assert(kSourceSlotSize <= kReaderSlotSize, "a source's slots are carved from the same ring");
static_assert(kSourceSlotSize >= 27 + 255 + 255 * 255, "a step back over a whole page fits in one slot");
// The input's last bytes, kept as they are read: what follows an archive's end, looked at after a
// read ran into the end.
constexpr size_t kReaderTailSize = 256;

enum ReaderSlotState : uint8_t {
    kSlotFree = 0,      // holds no needed data (the slot just left keeps its bytes until requested)
    kSlotRequested = 1, // the reader thread is to fill it
    kSlotFilled = 2,    // slot_size valid bytes
    kSlotFinal = 3,     // the last slot of the input: final_length valid bytes
};

struct ReaderThreadHandles; // the platform's thread, its two wake-up signals and the ring memory

struct ArchiveReader {
    int32_t slot_size = kReaderSlotSize; // kSourceSlotSize for a source (set when the reader starts)
    int32_t slot_pos = kReaderSlotSize;  // < 0: before the end of the previous slot; >= slot size: used up
    uint8_t* slot_data = nullptr;
    int32_t taken = 0; // bytes taken so far (wraps modulo 2^32; only differences are used)
    int32_t slot_index = 3;
    std::atomic<uint8_t> slot_state[kReaderSlotCount] = {};
    uint8_t* slots[kReaderSlotCount] = {};  // into the ring, or straight into the bytes of a memory input
    uint8_t* ring = nullptr;                // the ring's allocation; none for a memory input
    ReaderThreadHandles* handles = nullptr; // data_ready, slot_free, the thread, the ring
    std::atomic<uint8_t> finished{0};       // the reader thread saw a short read and ended
    uint8_t exhausted = 0;                  // the main thread reached the end of the final slot
    std::atomic<int32_t> final_length{0};
    FILE* file = nullptr;
    std::atomic<int32_t> stop{0};

    // Bytes from memory instead of a file (in-memory verification, fuzzing): slots filled without a
    // reader thread, by pointing them at the bytes (nothing is copied).
    const uint8_t* memory = nullptr;
    size_t memory_size = 0;
    size_t memory_offset = 0;  // touched by the thread that fills the slots only
    bool fills_inline = false; // no reader thread: the slots are filled on the reading thread
    // Bytes that arrive while they are read (the packer's verification alongside its pass): each slot
    // (kSourceSlotSize) is filled on the reading thread, when it is entered, by one call that returns a
    // whole slot, or fewer bytes only where the input ends.
    ByteSource* source = nullptr;

    ByteSource byte_source{}; // streamed decoders take their bytes through this, at a stable address

    int64_t slots_entered = 0; // with slot_pos, the 64-bit position that `taken` wraps

    // Written by the thread that fills the slots, read once the input has ended.
    uint8_t tail[kReaderTailSize] = {};
    size_t tail_length = 0;
    uint64_t input_bytes = 0;
};

// Start on `file`, positioned after the archive header. False when the ring or thread cannot be made.
// `on_this_thread`: the file is read on the calling thread, as it takes the bytes, whatever its size
// (no reader thread: the caller's thread count stays its own).
bool reader_start_file(ArchiveReader& reader, FILE* file, bool on_this_thread = false);
// Start on the bytes `source` gives (it must outlive the reader), read on the calling thread.
bool reader_start_source(ArchiveReader& reader, ByteSource* source);
// Start on `size` bytes at `data`, which must outlive the reader.
bool reader_start_memory(ArchiveReader& reader, const uint8_t* data, size_t size);

// The next byte 0..255, or -1 (all-one) once the input is exhausted.
int32_t read_byte(ArchiveReader& reader);
// Copies up to n bytes; fewer only when the input ends.
int32_t read_bytes(ArchiveReader& reader, uint8_t* dst, int32_t n);
// A length code of 1 to 4 bytes. After the end of the input it reads as 1,069,531,071.
uint32_t read_length(ArchiveReader& reader);
// A length code and that many bytes, in a malloc'd buffer the caller frees; nullptr when the input ends
// first. The buffer grows with the bytes actually read, so a bogus length cannot claim gigabytes.
uint8_t* read_block(ArchiveReader& reader, uint32_t& length);

int32_t reader_position(const ArchiveReader& reader);
// Returns to a position taken at most one slot earlier; other positions are ignored. Bytes before the
// end of the input are readable again after a look ahead that ran into the end.
void reader_set_position(ArchiveReader& reader, int32_t saved);
bool reader_is_exhausted(const ArchiveReader& reader);
// The bytes taken so far, in 64 bits (stepping back subtracts).
uint64_t reader_offset(const ArchiveReader& reader);
// Once the input has been read to its end (false before): its last bytes (at most kReaderTailSize, in
// `tail`) and how many bytes it held in all.
bool reader_input_end(const ArchiveReader& reader, const uint8_t*& tail, size_t& tail_length,
                      uint64_t& input_bytes);

// Stops and joins the reader thread and releases the ring. Safe to call twice or after a failed start.
void reader_stop(ArchiveReader& reader);

// The reader thread's loop; run by the platform backend on its own thread.
void reader_thread_main(ArchiveReader& reader);
