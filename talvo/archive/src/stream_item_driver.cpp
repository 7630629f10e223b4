#include "archive/stream_item_driver.h"

#include "archive/page_peek.h"
#include "coder/bit_direction.h"
#include "vorbis/vorbis_stream.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace {

constexpr int32_t kDataBufferBytes = 65536;

// Models whose predictor alone restarts with each stream when statistics carry over.
constexpr int kCarryOverResets[] = {
    kModelHeaderType,     kModelGranuleLow,         kModelGranuleHigh,     kModelSerial,
    kModelSequence,       kModelPacketCount,        kModelPacketLength,    kModelTruncatedBits,
    kModelTruncatedCode,  kModelCodebookDimensions, kModelCodebookEntries, kModelFirstCodewordLength,
    kModelCodewordRun,    kModelCodewordLength,     kModelValueBits,       kModelLookupValue,
    kModelPartitionClass, kModelMasterbook,         kModelSubclassBook,    kModelFloorX,
};

bool reset_for_stream(StreamDriver& driver) {
    // Fresh from creation, everything already holds its reset state (and its untouched pages stay so).
    if (driver.pristine) return true;
    if (driver.carry_over) {
        for (int m : kCarryOverResets)
            reset_predictor((*driver.models)[m]);
        return true;
    }
    reset_models(*driver.models, kModelsResetPerStream);
    return init_slot_table(driver.slots, driver.capacity, driver.age_shift);
}

void link_context(StreamDriver& driver, RangeDecoder* control, uint16_t* control_probs, OutputSink output,
                  const CodecEvents* events) {
    StreamLinks links;
    links.control_decoder = control;
    links.control_probs = control_probs;
    links.models = driver.models;
    links.packet_probs = driver.slots.packet_probs.data();
    links.header_store = &driver.header_store;
    links.stream_store = &driver.stream_store;
    links.output = output;
    VorbisLinks vorbis_links;
    vorbis_links.slot_table = &driver.slots;
    vorbis_links.scratch_large = driver.scratch_large;
    vorbis_links.scratch_small = driver.scratch_small;
    vorbis_links.events = events;
    init_vorbis_context(*driver.ctx, links, vorbis_links);
}

// The long-lived state a packing attempt changes, so that a stream that cannot be expressed leaves no
// trace: the packer's state must stay what the unpacker's will be. A driver that nothing has used yet
// needs no copy: its state is the reset state, and a reset brings it back.
// The models and the slot table go to the driver's saved_models and saved_slots.
struct Snapshot {
    bool fresh = false;
    int32_t stream_bytes = 0, stream_records = 0, header_bytes = 0, header_records = 0;
};

bool take_snapshot(StreamDriver& driver, Snapshot& snap) {
    snap.fresh = driver.pristine;
    try {
        if (!snap.fresh) {
            if (driver.saved_models)
                *driver.saved_models = *driver.models;
            else
                driver.saved_models = std::make_unique<ModelArea>(*driver.models);
            driver.saved_slots = driver.slots;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    snap.stream_bytes = store_size(driver.stream_store);
    snap.stream_records = driver.stream_store.record_count;
    snap.header_bytes = store_size(driver.header_store);
    snap.header_records = driver.header_store.record_count;
    return true;
}

bool restore_snapshot(StreamDriver& driver, Snapshot& snap) {
    if (snap.fresh) {
        // Back to the state of creation (the scratch areas are cleared by the next stream, since the
        // driver is no longer pristine).
        reset_models(*driver.models, kModelAreaRecords);
        if (!init_slot_table(driver.slots, driver.capacity, driver.age_shift)) return false;
    } else {
        *driver.models = *driver.saved_models;
        std::swap(driver.slots, driver.saved_slots); // the attempt's table is overwritten by the next save
    }
    driver.stream_store.data_end = driver.stream_store.buffer + snap.stream_bytes;
    driver.stream_store.record_count = snap.stream_records;
    driver.header_store.data_end = driver.header_store.buffer + snap.header_bytes;
    driver.header_store.record_count = snap.header_records;
    return true;
}

} // namespace

StreamDriver* create_stream_driver(int slot_selector, bool carry_over) {
    auto* driver = new (std::nothrow) StreamDriver;
    if (!driver) return nullptr;
    try {
        driver->ctx = std::make_unique<VorbisContext>();
    } catch (const std::bad_alloc&) {
        delete driver;
        return nullptr;
    }
    // Zero pages: the models in their reset state, and the scratch areas cleared.
    constexpr size_t kScratchLargeAt = (sizeof(ModelArea) + 63) / 64 * 64;
    constexpr size_t kScratchSmallAt = kScratchLargeAt + kResidueMemoryBytes;
    static_assert(alignof(ModelArea) <= 64, "each area starts on a 64-byte boundary of the block");
    static_assert(std::is_trivially_default_constructible_v<ModelArea>,
                  "creating the models writes nothing: the zero pages are their reset state");
    driver->model_block = allocate_zeroed<uint8_t>(kScratchSmallAt + kFloorClassMemoryBytes);
    if (!driver->model_block) {
        delete driver;
        return nullptr;
    }
    driver->models = new (driver->model_block.get()) ModelArea;
    driver->scratch_large = driver->model_block.get() + kScratchLargeAt;
    driver->scratch_small = driver->model_block.get() + kScratchSmallAt;
    driver->capacity = int32_t{1} << (slot_selector + 4);
    driver->age_shift = slot_selector + 4;
    driver->carry_over = carry_over;
    if (!init_slot_table(driver->slots, driver->capacity, driver->age_shift)) {
        delete driver;
        return nullptr;
    }
    store_create(driver->stream_store, kStreamStoreBytes, kStoreRecords);
    store_create(driver->header_store, kHeaderStoreBytes, kStoreRecords);
    return driver;
}

void destroy_stream_driver(StreamDriver* driver) {
    if (!driver) return;
    store_release(driver->stream_store);
    store_release(driver->header_store);
    delete driver;
}

ItemResult unpack_stream_item(StreamDriver& driver, ArchiveReader& reader, RangeDecoder& control,
                              uint16_t* control_probs, const OutputSink& output, const CodecEvents& events) {
    VorbisContext& ctx = *driver.ctx;
    link_context(driver, &control, control_probs, output, &events);
    ctx.replay_refill = archive_page_refill(reader);
    Unpacking control_dir{&control};
    ctx.remember_stream = code_remember_bit(control_dir, control_probs, false) ? 1 : 0;
    const int32_t start = store_size(driver.stream_store);

    uint32_t aux_length = 0, page_length = 0;
    uint8_t* aux_block = read_block(reader, aux_length);
    uint8_t* page_block = aux_block ? read_block(reader, page_length) : nullptr;
    if (!aux_block || !page_block) {
        std::free(aux_block);
        return ItemResult::InputEnded;
    }
    init_decoder(ctx.aux_decoder, aux_block, static_cast<int32_t>(aux_length));
    init_decoder(ctx.page_decoder, page_block, static_cast<int32_t>(page_length));
    const uint32_t data_length = read_length(reader);
    // The window holds the whole sub-stream when it is smaller than kDataBufferBytes: a small archive
    // then zero-fills (and faults in) only the bytes it reads. The decoder reads at most
    // min(length, window) bytes at a time, so any window of at least that size decodes alike.
    const int32_t window =
        static_cast<int32_t>(std::min(data_length, static_cast<uint32_t>(kDataBufferBytes)));
    if (driver.data_buffer.size() < static_cast<size_t>(window)) {
        try {
            driver.data_buffer.resize(static_cast<size_t>(window));
        } catch (const std::bad_alloc&) {
            std::free(aux_block);
            std::free(page_block);
            link_context(driver, nullptr, nullptr, OutputSink{}, nullptr);
            return ItemResult::OutOfMemory;
        }
    }
    init_streamed_decoder(ctx.data_decoder, &reader.byte_source, driver.data_buffer.data(), window,
                          static_cast<int32_t>(data_length > 0x7FFFFFFFu ? 0x7FFFFFFFu : data_length));
    open_page_buffer(ctx);

    bool ok = reset_for_stream(driver);
    prepare_vorbis_stream(ctx, driver.setup, driver.pristine);
    driver.pristine = false;
    if (ok) {
        Unpacking data{&ctx.data_decoder}, page{&ctx.page_decoder}, aux{&ctx.aux_decoder}, ctl{&control};
        ok = code_vorbis_stream(data, page, aux, ctl, ctx);
    }
    release_vorbis_setup(driver.setup);
    std::free(aux_block);
    std::free(page_block);
    if (ctx.remember_stream)
        store_add_record(driver.stream_store, start, store_size(driver.stream_store) - start);
    // A valid archive never needs a byte past a sub-stream's end; a decoder that went further means
    // the item was restored from garbage, and so would everything after it be. A failed stream item
    // ends this item only.
    const bool corrupt = decoder_overran(ctx.data_decoder) || decoder_overran(ctx.page_decoder) ||
                         decoder_overran(ctx.aux_decoder) || decoder_overran(control);
    link_context(driver, nullptr, nullptr, OutputSink{}, nullptr);
    if (corrupt) return ItemResult::Corrupt;
    return ok ? ItemResult::Done : ItemResult::Incomplete;
}

bool pack_stream_item(StreamDriver& driver, const OggPage* pages, size_t count,
                      const StreamItemChoices& choices, RangeEncoder& control, uint16_t* control_probs,
                      RangeEncoder& aux, RangeEncoder& page, RangeEncoder& data,
                      const PageProgress& progress) {
    Snapshot snap;
    if (!take_snapshot(driver, snap)) return false;
    VorbisContext& ctx = *driver.ctx;
    link_context(driver, nullptr, control_probs, OutputSink{}, nullptr);
    ctx.remember_stream = choices.remember ? 1 : 0;
    const int32_t start = store_size(driver.stream_store);
    bool ok = set_original_pages(ctx, pages, static_cast<int32_t>(count), &page, progress) &&
              reset_for_stream(driver);
    prepare_vorbis_stream(ctx, driver.setup, driver.pristine);
    driver.pristine = false;
    const bool copy = choices.header_copy >= 0;
    driver.setup.packing_header_record = copy ? static_cast<uint32_t>(choices.header_copy) : 0;
    driver.setup.packing_header_pages = copy ? choices.header_copy_pages : 0;
    driver.setup.packing_capture = choices.capture_headers;
    if (ok) {
        Packing d{&data}, p{&page}, a{&aux}, c{&control};
        ok = code_vorbis_stream(d, p, a, c, ctx);
    }
    if (driver.slots.used_count > driver.peak_slots) driver.peak_slots = driver.slots.used_count;
    release_vorbis_setup(driver.setup);
    if (ok && choices.remember)
        store_add_record(driver.stream_store, start, store_size(driver.stream_store) - start);
    link_context(driver, nullptr, nullptr, OutputSink{}, nullptr);
    // A table that cannot be set up again cannot be what the unpacker holds: packing fails as a whole.
    if (!ok && !restore_snapshot(driver, snap)) throw std::bad_alloc();
    return ok;
}
