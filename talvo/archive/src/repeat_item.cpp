#include "archive/repeat_item.h"

#include "coder/bit_direction.h"
#include "ogg/page_layer.h"
#include "ogg/page_store.h"

namespace {

template <class Dir>
bool code_repeat_item(Dir& control, ModelArea& models, PageStore& stream_store, const OutputSink* output,
                      const CodecEvents* events, uint32_t known_index, uint32_t known_serial) {
    const uint32_t k = code_store_index(control, models[kModelStreamStoreIndex], known_index);
    ValueModel& serial_model = models[kModelSerial];
    const uint32_t delta = known_serial - static_cast<uint32_t>(serial_model.last_value);
    const int32_t v =
        code_delta<ShapeSerialNumber>(control, serial_model, false, static_cast<int32_t>(delta));
    serial_model.last_value =
        static_cast<int32_t>(static_cast<uint32_t>(serial_model.last_value) + static_cast<uint32_t>(v));
    const auto serial = static_cast<uint32_t>(serial_model.last_value);

    uint8_t* bytes = nullptr;
    int32_t length = 0;
    if (!store_lookup(stream_store, k, bytes, length)) {
        report_event(events, CodecEvent::MissingStoredRecord);
        return false;
    }
    const bool whole = restamp_record(bytes, length, serial);
    if (output && length > 0) return sink_write(*output, bytes, static_cast<size_t>(length)) && whole;
    return whole;
}

// Tells a refused write apart from a missing record, which ends the repeat item the same way.
struct WatchedOutput {
    const OutputSink* output;
    bool failed = false;
};

bool watched_write(void* context, const uint8_t* bytes, size_t n) {
    auto* watched = static_cast<WatchedOutput*>(context);
    if (!sink_write(*watched->output, bytes, n)) watched->failed = true;
    return !watched->failed;
}

} // namespace

ItemResult unpack_repeat_item(StreamDriver& driver, RangeDecoder& control, const OutputSink& output,
                              const CodecEvents& events) {
    WatchedOutput watched{&output};
    const OutputSink sink{&watched, watched_write};
    Unpacking d{&control};
    driver.pristine = false; // the serial number and store index models adapt
    const bool restored = code_repeat_item(d, *driver.models, driver.stream_store, &sink, &events, 0, 0);
    if (watched.failed) return ItemResult::WriteFailed;
    return restored ? ItemResult::Done : ItemResult::Incomplete;
}

bool pack_repeat_item(StreamDriver& driver, RangeEncoder& control, uint32_t index, uint32_t serial) {
    if (index >= static_cast<uint32_t>(driver.stream_store.record_count)) return false;
    Packing d{&control};
    driver.pristine = false;
    return code_repeat_item(d, *driver.models, driver.stream_store, nullptr, nullptr, index, serial);
}
