#pragma once

// Codebook model slots: the memory across logical streams. The residue value models of a codebook draw
// their probabilities from the block of its slot, and a book whose codeword lengths are close to those
// of a book met in an earlier stream is given that earlier slot, so its models start already adapted.

#include "vorbis/vorbis_setup.h"

#include <cstdint>
#include <vector>

// Layout of the packet probability array: shared entries, then one block per slot.
constexpr int32_t kSharedPacketProbs = 598620;
constexpr int32_t kSlotBlockProbs = 283648;
// The residue mantissa contexts of the last slot reach up to 127 entries past its block; the spare
// entries keep those reads inside the array (initialised and reset like the rest).
constexpr int32_t kSlotBlockSpareProbs = 256;

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

struct CodebookSlotTable {
    int32_t used_count = 0;
    int32_t capacity = 0; // 16, 32, 64 or 128
    int32_t age_shift = 0;
    std::vector<uint8_t> used_in_stream;
    std::vector<CodebookSlot> slots;
    std::vector<uint16_t> packet_probs; // kSharedPacketProbs + capacity x kSlotBlockProbs (+ spare)
};

inline size_t packet_probs_size(int32_t capacity) {
    return static_cast<size_t>(kSharedPacketProbs) + static_cast<size_t>(capacity) * kSlotBlockProbs +
           kSlotBlockSpareProbs;
}

inline uint16_t* slot_block(CodebookSlotTable& table, int32_t slot) {
    return table.packet_probs.data() + kSharedPacketProbs + static_cast<size_t>(slot) * kSlotBlockProbs;
}

// Empties the table (every slot record zeroed) and sets every probability to one half. The buffers are
// allocated on the first call and reused later. False if they cannot be allocated.
bool init_slot_table(CodebookSlotTable& table, int32_t capacity, int32_t age_shift);

// Start of a logical stream: no slot used yet.
void clear_slot_stream_flags(CodebookSlotTable& table);

// End of a logical stream: every slot the stream did not use loses one usage count (never below 0).
void age_slot_table(CodebookSlotTable& table);

// The slot whose models a book with a value lookup uses; updates the table. -1 if a buffer cannot be
// allocated.
int32_t match_codebook_model(CodebookSlotTable& table, const Codebook& book);
