#include "coder/range_decoder.h"

#include <algorithm>
#include <cstring>

namespace {

// An empty or short sub-stream still needs a byte to shift in; a valid archive never reads it.
const uint8_t kZeroByte = 0;

void start_code(RangeDecoder& dec, int32_t available) {
    dec.code = 0;
    for (int i = 0; i < 4; ++i)
        dec.code = (dec.code << 8) | (i < available ? dec.buffer_start[i] : 0u);
    dec.range = 0xFFFFFFFFu;
    if (available > 4) {
        dec.cursor = dec.buffer_start + 4;
    } else {
        // Four bytes or fewer: every later normalisation shifts in zero bytes.
        dec.cursor = &kZeroByte;
        dec.buffer_end = &kZeroByte + 1;
        dec.remaining = 0;
    }
}

} // namespace

void init_decoder(RangeDecoder& dec, const uint8_t* bytes, int32_t length) {
    dec.buffer_start = const_cast<uint8_t*>(bytes);
    dec.buffer_end = bytes + length;
    dec.remaining = length;
    dec.source = nullptr;
    dec.used_up = false;
    dec.overrun = 0;
    start_code(dec, length);
}

void init_streamed_decoder(RangeDecoder& dec, ByteSource* source, uint8_t* buffer, int32_t buffer_size,
                           int32_t length) {
    dec.source = source;
    dec.remaining = length;
    dec.buffer_start = buffer;
    const int32_t first = std::max(0, std::min(length, buffer_size));
    dec.buffer_end = buffer + first;
    dec.used_up = false;
    dec.overrun = 0;
    int32_t filled = 0;
    if (first > 0 && !source->is_exhausted(source->context))
        filled = std::max(0, source->read_bytes(source->context, buffer, first));
    // An archive that ends early must not leave the decoder reading uninitialised memory. The bytes
    // it lacks count as read past the end: a sub-stream that claims more than the archive holds must
    // not be decoded for as long as it claims.
    if (filled < first) {
        std::memset(buffer + filled, 0, static_cast<size_t>(first - filled));
        dec.overrun = first - filled;
    }
    start_code(dec, first);
}

void advance_decoder_buffer(RangeDecoder& dec) {
    if (dec.used_up || dec.buffer_end == &kZeroByte + 1) {
        ++dec.overrun;
        return;
    }
    const int32_t consumed = static_cast<int32_t>(dec.cursor - dec.buffer_start) + 1;
    const int32_t left = dec.remaining - consumed;
    if (left <= 0) {
        // Used up: the last byte is shifted in again by every later normalisation.
        dec.used_up = true;
        return;
    }
    dec.remaining = left;
    const int32_t n = std::min(consumed, left);
    dec.buffer_end = dec.buffer_start + n;
    int32_t got = 0;
    if (dec.source && !dec.source->is_exhausted(dec.source->context))
        got = std::max(0, dec.source->read_bytes(dec.source->context, dec.buffer_start, n));
    // Once the archive has ended the old bytes are decoded again. They stand for bytes the archive does
    // not have, so they count as read past the end, or a length code of a gigabyte would keep the
    // decoder going over the same chunk for as long as it claims.
    if (dec.source && got < n) dec.overrun += n - got;
    dec.cursor = dec.buffer_start;
}
