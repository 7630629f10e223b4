#include "stream_round_trip.h"

#include "vorbis_reference.h"

#include "coder/bit_direction.h"
#include "vorbis/vorbis_stream.h"

namespace stream_round_trip {

LongLived::LongLived()
    : models(std::make_unique<ModelArea>()), large(kResidueMemoryBytes), small(kFloorClassMemoryBytes) {
    reset_models(*models, kModelAreaRecords);
    init_slot_table(slots, 16, 4);
    store_create(header_store, kHeaderStoreBytes, kStoreRecords);
    store_create(stream_store, kStreamStoreBytes, kStoreRecords);
    control_probs.fill(kProbInit);
}

LongLived::~LongLived() {
    store_release(header_store);
    store_release(stream_store);
}

StreamLinks LongLived::links(OutputSink output) {
    StreamLinks l;
    l.models = models.get();
    l.control_probs = control_probs.data();
    l.packet_probs = slots.packet_probs.data();
    l.header_store = &header_store;
    l.stream_store = &stream_store;
    l.output = output;
    return l;
}

VorbisLinks LongLived::vorbis_links() {
    VorbisLinks l;
    l.slot_table = &slots;
    l.scratch_large = large.data();
    l.scratch_small = small.data();
    return l;
}

PackResult pack(LongLived& state, const std::vector<uint8_t>& file, Archive& archive) {
    std::vector<OggPage> pages;
    for (auto [offset, size] : vorbis_reference::page_spans(file))
        pages.push_back({file.data() + offset, static_cast<uint32_t>(size)});
    auto ctx = std::make_unique<VorbisContext>();
    init_vorbis_context(*ctx, state.links({}), state.vorbis_links());
    VorbisSetup setup;
    RangeEncoder data, page, aux, control;
    init_encoder(data);
    init_encoder(page);
    init_encoder(aux);
    init_encoder(control);
    PackResult result;
    if (!set_original_pages(*ctx, pages.data(), static_cast<int32_t>(pages.size()), &page)) return result;
    prepare_vorbis_stream(*ctx, setup);
    Packing d{&data}, p{&page}, a{&aux}, c{&control};
    result.ok = code_vorbis_stream(d, p, a, c, *ctx);
    result.inexpressible = ctx->inexpressible;
    flush_encoder(data);
    flush_encoder(page);
    flush_encoder(aux);
    flush_encoder(control);
    archive = {data.out, page.out, aux.out, control.out};
    return result;
}

bool unpack(LongLived& state, const Archive& archive, std::vector<uint8_t>& out, UnpackDetails* details) {
    auto ctx = std::make_unique<VorbisContext>();
    VorbisLinks vorbis_links = state.vorbis_links();
    const CodecEvents events{details, [](void* context, CodecEvent event, int count) {
                                 for (int i = 0; i < count; ++i)
                                     static_cast<UnpackDetails*>(context)->events.push_back(event);
                             }};
    if (details) vorbis_links.events = &events;
    init_vorbis_context(*ctx, state.links(vector_sink(out)), vorbis_links);
    RangeDecoder control;
    init_decoder(ctx->data_decoder, archive.data.data(), static_cast<int32_t>(archive.data.size()));
    init_decoder(ctx->page_decoder, archive.page.data(), static_cast<int32_t>(archive.page.size()));
    init_decoder(ctx->aux_decoder, archive.aux.data(), static_cast<int32_t>(archive.aux.size()));
    init_decoder(control, archive.control.data(), static_cast<int32_t>(archive.control.size()));
    ctx->control_decoder = &control;
    open_page_buffer(*ctx);
    VorbisSetup setup;
    prepare_vorbis_stream(*ctx, setup);
    Unpacking d{&ctx->data_decoder}, p{&ctx->page_decoder}, a{&ctx->aux_decoder}, c{&control};
    const bool ok = code_vorbis_stream(d, p, a, c, *ctx);
    if (details) {
        details->damaged = ctx->damaged;
        details->inexpressible = ctx->inexpressible;
    }
    return ok;
}

} // namespace stream_round_trip
