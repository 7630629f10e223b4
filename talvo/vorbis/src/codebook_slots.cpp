#include "vorbis/codebook_slots.h"

#include "coder/range_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <new>

PacketProbs::PacketProbs(const PacketProbs& other)
    : values(other.size ? allocate_zeroed<uint16_t>(other.size) : ZeroedBlock<uint16_t>()), size(other.size),
      ready(other.ready) {
    if (other.size && !values) throw std::bad_alloc();
    std::copy(other.values.get(), other.values.get() + other.ready, values.get());
}

PacketProbs& PacketProbs::operator=(const PacketProbs& other) {
    if (this == &other) return *this;
    if (!values || size != other.size) {
        *this = PacketProbs(other);
        return *this;
    }
    // Into the block already held: only the ready parts are copied, and what this block had written
    // beyond the other's ready part goes back to one half, so that the entries past `ready` are still
    // zero.
    std::copy(other.values.get(), other.values.get() + other.ready, values.get());
    if (ready > other.ready) std::fill(values.get() + other.ready, values.get() + ready, kProbInit);
    ready = other.ready;
    return *this;
}

bool PacketProbs::operator==(const PacketProbs& other) const {
    return size == other.size && ready == other.ready &&
           std::equal(values.get(), values.get() + ready, other.values.get());
}

bool init_slot_table(CodebookSlotTable& table, int32_t capacity, int32_t age_shift) {
    table.used_count = 0;
    table.capacity = capacity;
    table.age_shift = age_shift;
    if (!allocate_table(table.used_in_stream, static_cast<size_t>(capacity), uint8_t{0})) return false;
    try {
        table.slots.clear();
        table.slots.resize(static_cast<size_t>(capacity));
    } catch (const std::bad_alloc&) {
        return false;
    }
    PacketProbs& probs = table.packet_probs;
    const size_t size = packet_probs_size(capacity);
    if (probs.size != size) {
        // Zero pages: untouched until a stream uses them.
        probs.values = allocate_zeroed<uint16_t>(size);
        probs.size = probs.values ? size : 0;
        probs.ready = 0;
        if (!probs.values) return false;
    }
    std::fill(probs.data(), probs.data() + probs.ready, kProbInit);
    probs.ready = kSharedPacketProbs;
    return true;
}

void prepare_slot_block(CodebookSlotTable& table, int32_t slot) {
    PacketProbs& probs = table.packet_probs;
    const size_t reach =
        std::min(probs.size, static_cast<size_t>(kSharedPacketProbs) +
                                 static_cast<size_t>(slot + 1) * kSlotBlockProbs + kSlotBlockSpareProbs);
    // Entries past `ready` still hold one half.
    if (probs.ready < reach) probs.ready = reach;
}

void clear_slot_stream_flags(CodebookSlotTable& table) {
    std::fill(table.used_in_stream.begin(), table.used_in_stream.end(), uint8_t{0});
}

void age_slot_table(CodebookSlotTable& table) {
    for (int32_t k = 0; k < table.capacity; ++k) {
        CodebookSlot& slot = table.slots[k];
        if (!table.used_in_stream[k] && slot.usage != 0) --slot.usage;
    }
}

namespace {

// The book's codeword length per entry. A sparse book's absent entries are given its longest length,
// so that books differing only in which rare entries they omit still compare as close.
bool entry_lengths(const Codebook& book, std::vector<uint8_t>& rebuilt, const uint8_t*& lengths) {
    if (!book.sparse) {
        lengths = book.codeword_lengths.data();
        return true;
    }
    uint8_t longest = 0;
    for (int32_t x = 0; x < book.sorted_entries; ++x)
        longest = std::max(longest, book.codeword_lengths[x]);
    if (!allocate_table(rebuilt, static_cast<size_t>(book.entries), longest)) return false;
    for (int32_t x = 0; x < book.sorted_entries; ++x)
        rebuilt[static_cast<size_t>(book.sorted_values[x])] = book.codeword_lengths[x];
    lengths = rebuilt.data();
    return true;
}

uint32_t length_distance(const uint8_t* a, const uint8_t* b, int32_t count) {
    uint32_t distance = 0;
    for (int32_t i = 0; i < count; ++i)
        distance += static_cast<uint32_t>(std::abs(int{a[i]} - int{b[i]}));
    return distance;
}

} // namespace

int32_t match_codebook_model(CodebookSlotTable& table, const Codebook& book) {
    std::vector<uint8_t> rebuilt;
    const uint8_t* lengths = nullptr;
    if (!entry_lengths(book, rebuilt, lengths)) return -1;

    uint32_t best_distance = 0xFFFFFFFFu;
    int32_t best = 0;
    for (int32_t r = 0; r < table.used_count; ++r) {
        const CodebookSlot& slot = table.slots[r];
        if (slot.lookup_values != book.lookup_values || slot.delta_value != book.delta_value ||
            slot.entries != book.entries)
            continue;
        const uint32_t distance = length_distance(lengths, slot.lengths.data(), book.entries);
        if (distance < best_distance) {
            best_distance = distance;
            best = r;
            if (distance == 0) break;
        }
    }
    const uint32_t score = (best_distance * 256u) / static_cast<uint32_t>(book.entries);
    if (score <= kSlotReuseScore) {
        table.slots[best].usage += 1;
        table.used_in_stream[best] = 1;
        return best;
    }

    int32_t r = 0;
    if (table.used_count < table.capacity) {
        r = table.used_count++;
    } else {
        if (score >= kSlotRecycleScore) {
            uint32_t least = 0xFFFFFFFFu;
            for (int32_t k = 0; k < table.capacity; ++k) {
                if (table.slots[k].usage < least) {
                    least = table.slots[k].usage;
                    r = k;
                    if (least == 0) break;
                }
            }
            uint16_t* block = slot_block(table, r);
            const int32_t spare = r == table.capacity - 1 ? kSlotBlockSpareProbs : 0;
            std::fill(block, block + kSlotBlockProbs + spare, kProbInit);
        } else {
            r = best;
        }
        uint32_t others = 0;
        for (int32_t k = 0; k < table.capacity; ++k)
            if (k != r) others += table.slots[k].usage;
        table.slots[r].usage = others >> table.age_shift;
    }

    CodebookSlot& slot = table.slots[r];
    if (slot.lengths_capacity < static_cast<uint32_t>(book.entries)) {
        if (!allocate_table(slot.lengths, static_cast<size_t>(book.entries), uint8_t{0})) return -1;
        slot.lengths_capacity = static_cast<uint32_t>(book.entries);
    }
    slot.entries = book.entries;
    slot.delta_value = book.delta_value;
    slot.lookup_values = book.lookup_values;
    std::copy(lengths, lengths + book.entries, slot.lengths.begin());
    table.used_in_stream[r] = 1;
    prepare_slot_block(table, r);
    return r;
}
