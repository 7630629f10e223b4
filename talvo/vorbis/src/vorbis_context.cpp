#include "vorbis/vorbis_context.h"

void init_vorbis_context(VorbisContext& ctx, const StreamLinks& stream_links, const VorbisLinks& links) {
    init_stream_context(ctx, stream_links);
    static_cast<VorbisState&>(ctx) = VorbisState{};
    ctx.events = links.events;
    ctx.slot_table = links.slot_table;
    ctx.scratch_large = links.scratch_large;
    ctx.scratch_small = links.scratch_small;
}
