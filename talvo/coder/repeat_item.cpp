#include "coder/repeat_item.h"

#include "ogg/page_layer.h"

template <class Dir>
bool code_repeat_item(Dir& control, ModelArea& models, PageStore& stream_store, const OutputSink* output,
                      uint32_t known_index, uint32_t known_serial) {
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
    if (!store_lookup(stream_store, k, bytes, length)) return false;
    const bool whole = restamp_record(bytes, length, serial);
    if (output && length > 0) return sink_write(*output, bytes, static_cast<size_t>(length)) && whole;
    return whole;
}

template bool code_repeat_item<Unpacking>(Unpacking&, ModelArea&, PageStore&, const OutputSink*, uint32_t,
                                          uint32_t);
template bool code_repeat_item<Packing>(Packing&, ModelArea&, PageStore&, const OutputSink*, uint32_t,
                                        uint32_t);

bool run_repeat_item(RangeDecoder& control_decoder, ModelArea& models, PageStore& stream_store,
                     const OutputSink& output) {
    Unpacking d{&control_decoder};
    return code_repeat_item(d, models, stream_store, &output);
}

bool pack_repeat_item(RangeEncoder& control_encoder, ModelArea& models, PageStore& stream_store,
                      uint32_t index, uint32_t serial) {
    Packing d{&control_encoder};
    return code_repeat_item(d, models, stream_store, nullptr, index, serial);
}

bool restamp_record(uint8_t* bytes, int32_t length, uint32_t serial) {
    int32_t pos = 0;
    while (pos < length) {
        const int32_t left = length - pos;
        if (left < 27 || 27 + bytes[pos + 26] > left) return false;
        int32_t size = 27 + bytes[pos + 26];
        for (int i = 0; i < bytes[pos + 26]; ++i)
            size += bytes[pos + 27 + i];
        if (size > left) return false;
        restamp_page(bytes + pos, serial);
        pos += size;
    }
    return true;
}
