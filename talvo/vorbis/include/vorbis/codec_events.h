#pragma once

// What the codecs meet while they restore a stream and report besides failing or going on: rare events,
// each with how many times it happened at that point. They go to a callback handed in with each unpack
// run (no globals: runs may go on side by side), and the talvo program prints a line for each.

#include <cstdint>

enum class CodecEvent : uint8_t {
    FloorType0,             // a setup with a floor of type 0; the stream is refused
    ResidueValueOverflow,   // residue values name no entry of their book; the stream fails
    ResidueClassOverflow,   // a class word of a residue with 16 classifications
    ResidueType2OneChannel, // a pass of a type-2 residue over one channel (its bits come back as tail)
    MissingStoredRecord,    // a repeat item or header copy names no stored record; the item is incomplete
};

struct CodecEvents {
    void* context = nullptr;
    void (*report)(void* context, CodecEvent event, int count) = nullptr;
};

// Reports `event` (happened `count` times); nothing when no callback was handed in.
inline void report_event(const CodecEvents* events, CodecEvent event, int count = 1) {
    if (events && events->report) events->report(events->context, event, count);
}
