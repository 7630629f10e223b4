#include "coder/range_encoder.h"

#ifdef TALVO_DECISION_TRACE
std::vector<uint32_t>* g_decision_trace = nullptr;
#endif

void init_encoder(RangeEncoder& enc) {
    enc = RangeEncoder{};
}

void encoder_shift_low(RangeEncoder& enc) {
    if (enc.low < 0xFF000000ull || enc.low >= (1ull << 32)) {
        const uint8_t carry = static_cast<uint8_t>(enc.low >> 32);
        uint8_t byte = enc.cache;
        do {
            const uint8_t value = static_cast<uint8_t>(byte + carry);
            if (enc.first_byte_pending)
                enc.first_byte_pending = false;
            else
                enc.out.push_back(value);
            byte = 0xFF;
        } while (--enc.cache_size != 0);
        enc.cache = static_cast<uint8_t>(enc.low >> 24);
    }
    ++enc.cache_size;
    enc.low = (enc.low & 0x00FFFFFFull) << 8;
}

void flush_encoder(RangeEncoder& enc) {
    for (int i = 0; i < 5; ++i)
        encoder_shift_low(enc);
}
