#pragma once

// Test helper: one logical Vorbis stream through the packing direction into the three sub-streams and
// the control coder, and back through the unpacking direction, with the long-lived state (models, slot
// table, stores, scratch areas) that the stream item driver keeps.

#include "coder/value_model.h"
#include "ogg/page_store.h"
#include "vorbis/codebook_slots.h"
#include "vorbis/codec_events.h"
#include "vorbis/vorbis_context.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace stream_round_trip {

struct LongLived {
    std::unique_ptr<ModelArea> models;
    CodebookSlotTable slots;
    PageStore header_store, stream_store;
    std::vector<uint8_t> large, small;
    std::array<uint16_t, 18> control_probs{};
    LongLived();
    ~LongLived();
    LongLived(const LongLived&) = delete;
    LongLived& operator=(const LongLived&) = delete;
    StreamLinks links(OutputSink output);
    VorbisLinks vorbis_links();
};

struct Archive {
    std::vector<uint8_t> data, page, aux, control;
    size_t size() const { return data.size() + page.size() + aux.size() + control.size(); }
};

struct PackResult {
    bool ok = false;
    bool inexpressible = false;
};

// The pages of `file` (one logical stream) modelled into `archive`.
PackResult pack(LongLived& state, const std::vector<uint8_t>& file, Archive& archive);

// What an unpack leaves behind besides its result: the stream's flags and the codecs' events.
struct UnpackDetails {
    bool damaged = false;
    bool inexpressible = false;
    std::vector<CodecEvent> events;
};

// The stream rebuilt from `archive` into `out`; true when the stream item succeeded.
bool unpack(LongLived& state, const Archive& archive, std::vector<uint8_t>& out,
            UnpackDetails* details = nullptr);

} // namespace stream_round_trip
