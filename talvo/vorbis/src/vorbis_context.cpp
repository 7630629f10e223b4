#include "vorbis/vorbis_context.h"

void init_vorbis_context(VorbisContext& ctx, const StreamLinks& stream_links, const VorbisLinks& links) {
    init_stream_context(ctx, stream_links);
    ctx.setup = nullptr;
    ctx.events = links.events;
    ctx.last_mode_low_bit = 0;
    ctx.last_previous_window = 0;
    ctx.last_next_window = 0;
    ctx.floor_nonzero_history = 0;
    ctx.truncated_bits = 0;
    ctx.truncated_code = 0;
    ctx.truncation_seen = 0;
    ctx.slot_table = links.slot_table;
    ctx.scratch_large = links.scratch_large;
    ctx.scratch_small = links.scratch_small;
}
