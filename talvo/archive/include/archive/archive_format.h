#pragma once

// The archive container as both directions see it: the header, the length code and the control
// decisions that announce each item. The unpacker decodes these decisions, the packer encodes them,
// through the same routines.

#include "coder/bit_direction.h"
#include "coder/model_map.h"

#include <cstdint>

constexpr uint8_t kArchiveMagic[6] = {'T', 'A', 'L', 'V', 'O', 0};
constexpr int kArchiveHeaderSize = 7; // magic and flags byte

// Flags byte: bits 0-2 select the codebook slot count 2^(s+4) (0-3 valid); bit 3 carries statistics
// over from one logical stream to the next; bits 4-7 are ignored.
constexpr uint8_t kFlagsSlotSelectorMask = 0x07;
constexpr uint8_t kFlagsMaxSlotSelector = 3;
constexpr uint8_t kFlagsCarryOver = 0x08;

// The largest value a length code carries (four bytes, shifted right by 2).
constexpr uint32_t kMaxLengthCode = 0x3FFFFFFFu;

// The control sub-stream's probabilities are kControlProbCount entries (model_map.h); the header codec
// codes its header-set decisions there too.

enum class ItemKind : uint8_t { Raw, Repeat, Stream };

// How the unpacking of one item ended.
enum class ItemResult : uint8_t {
    Done,        // the item restored everything it describes
    Incomplete,  // the item is over but restored less than it describes: a codec refused or failed, or
                 // a stored record it names is missing (unpacking goes on with the next item)
    InputEnded,  // the archive ended inside the item
    WriteFailed, // the output refused bytes
    OutOfMemory, // the item's buffer could not be had
    Corrupt,     // a sub-stream decoder ran past its end (decoder_overran): the archive is damaged
};

// Codes the decisions that announce one item. `previous_special` is the special bit of the item
// before (0 before the first) and is updated.
template <class Dir>
ItemKind code_item_kind(Dir& dir, uint16_t* control_probs, int& previous_special, ItemKind known) {
    const int special =
        dir.bit(control_probs[kControlSpecialProbs + previous_special], known != ItemKind::Raw);
    previous_special = special;
    if (!special) return ItemKind::Raw;
    const int repeat = dir.bit(control_probs[kControlRepeatProb], known == ItemKind::Repeat);
    return repeat ? ItemKind::Repeat : ItemKind::Stream;
}

// First decision of a stream item: whether it is kept for later repeat items.
template <class Dir> bool code_remember_bit(Dir& dir, uint16_t* control_probs, bool known) {
    return dir.bit(control_probs[kControlRememberProb], known) != 0;
}
