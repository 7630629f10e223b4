#include "vorbis/vorbis_stream.h"

#include "coder/bit_direction.h"
#include "ogg/page_layer.h"
#include "vorbis/audio_packet.h"
#include "vorbis/codebook_slots.h"
#include "vorbis/header_codec.h"

#include <cstring>

void prepare_vorbis_stream(VorbisContext& ctx, VorbisSetup& setup, bool scratch_is_clear) {
    release_vorbis_setup(setup);
    ctx.setup = &setup;
    if (!scratch_is_clear) {
        std::memset(ctx.scratch_large, 0, kResidueMemoryBytes);
        std::memset(ctx.scratch_small, 0, kFloorClassMemoryBytes);
    }
    ctx.mode = CodingMode::Rebuild;
    clear_slot_stream_flags(*ctx.slot_table);
}

template <class Dir>
bool code_vorbis_stream(Dir& data, Dir& page, Dir& aux, Dir& control, VorbisContext& ctx) {
    if (!code_vorbis_headers(data, control, ctx)) return false;
    bool ok = true;
    while (ok && start_audio_packet<Dir>(ctx)) {
        // Past the end of a sub-stream the decisions are garbage and need not ever reach the last page.
        if (data.overran() || page.overran() || aux.overran() || control.overran()) {
            ok = false;
            break;
        }
        const int mode = code_mode_number(page, ctx);
        ok = mode >= 0 && code_audio_packet(data, aux, ctx, ctx.setup->modes[static_cast<size_t>(mode)]);
    }
    age_slot_table(*ctx.slot_table);
    // A stream may also end on a page start that fails because the page claims to continue a packet:
    // the unpacker stops there without writing that page, which is how a stream cut short (or damaged
    // part way through) keeps its good leading pages modelled.
    const bool ended_on_failed_start = !ctx.stream_ended && (ctx.header_type & 1) != 0;
    ok = ok && (stream_complete(ctx) || ended_on_failed_start) && !ctx.damaged && !ctx.inexpressible;
    // Packing: every original page must have been modelled.
    if constexpr (Dir::packing) ok = ok && ctx.original_page_next == ctx.original_page_count;
    return ok;
}

template bool code_vorbis_stream<Unpacking>(Unpacking&, Unpacking&, Unpacking&, Unpacking&, VorbisContext&);
template bool code_vorbis_stream<Packing>(Packing&, Packing&, Packing&, Packing&, VorbisContext&);
