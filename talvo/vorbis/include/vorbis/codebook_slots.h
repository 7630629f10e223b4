#pragma once

// Codebook model slots: the memory across logical streams. The residue value models of a codebook draw
// their probabilities from the block of its slot, and a book whose codeword lengths are close to those
// of a book met in an earlier stream is given that earlier slot, so its models start already adapted.

#include "coder/model_map.h"
#include "coder/zeroed_memory.h"
#include "vorbis/vorbis_setup.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The packet probability array holds shared entries, then one block per slot (model_map.h).

// Scores at which a book is considered unlike every slot, and so unlike that a slot is recycled.
constexpr uint32_t kSlotReuseScore = 256;
constexpr uint32_t kSlotRecycleScore = 4095;

struct CodebookSlot {
    uint32_t usage = 0;
    int32_t entries = 0;
    int32_t lookup_values = 0;
    uint32_t lengths_capacity = 0;
    float delta_value = 0.0f;
    std::vector<uint8_t> lengths; // codeword length per entry of the stored book
};

// The packet probability array, kSharedPacketProbs + capacity x kSlotBlockProbs (+ spare) entries. It is
// 10 MB and more, while a short file uses a few slots and a few pages of each: it is allocated as zero
// pages (one half, as stored), so only what a stream touches is ever written. Entries from `ready` on
// have never been written since the array was allocated or last reset: they are still zero, and a reset
// leaves them alone.
struct PacketProbs {
    ZeroedBlock<uint16_t> values;
    size_t size = 0;
    size_t ready = 0;

    PacketProbs() = default;
    PacketProbs(const PacketProbs& other); // copies the ready part; throws std::bad_alloc
    // Copies into the block already held where it has the same size, else as the copy does.
    PacketProbs& operator=(const PacketProbs& other);
    PacketProbs(PacketProbs&&) noexcept = default;
    PacketProbs& operator=(PacketProbs&&) noexcept = default;

    uint16_t* data() { return values.get(); }
    const uint16_t* data() const { return values.get(); }
    uint16_t& operator[](size_t i) { return values.get()[i]; }
    uint16_t operator[](size_t i) const { return values.get()[i]; }
    // Same size and the same values in the same ready part.
    bool operator==(const PacketProbs& other) const;
};

struct CodebookSlotTable {
    int32_t used_count = 0;
    int32_t capacity = 0; // 16, 32, 64 or 128
    int32_t age_shift = 0;
    std::vector<uint8_t> used_in_stream;
    std::vector<CodebookSlot> slots;
    PacketProbs packet_probs;
};

inline size_t packet_probs_size(int32_t capacity) {
    return static_cast<size_t>(kSharedPacketProbs) + static_cast<size_t>(capacity) * kSlotBlockProbs +
           kSlotBlockSpareProbs;
}

inline uint16_t* slot_block(CodebookSlotTable& table, int32_t slot) {
    return table.packet_probs.data() + slot_block_offset(slot);
}

// Empties the table (every slot record zeroed) and sets every probability to one half (only the entries
// written since the last reset need it). The buffers are allocated on the first call and reused later. False
// if they cannot be allocated.
bool init_slot_table(CodebookSlotTable& table, int32_t capacity, int32_t age_shift);

// Makes slot `slot`'s block, and the entries past it that its contexts reach, ready for use (they hold
// one half until a stream writes them). Every slot that match_codebook_model hands out is prepared.
void prepare_slot_block(CodebookSlotTable& table, int32_t slot);

// Start of a logical stream: no slot used yet.
void clear_slot_stream_flags(CodebookSlotTable& table);

// End of a logical stream: every slot the stream did not use loses one usage count (never below 0).
void age_slot_table(CodebookSlotTable& table);

// The slot whose models a book with a value lookup uses; updates the table. -1 if a buffer cannot be
// allocated.
int32_t match_codebook_model(CodebookSlotTable& table, const Codebook& book);
