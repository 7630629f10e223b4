#pragma once

// The Ogg page layer: page headers and lacing rebuilt from models (unpacking) or modelled from the
// original pages (packing), page flush with CRC, lacing values handed to the bit I/O, packet starts,
// restamping of stored pages.
//
// Page header fields use ModelArea records 0-6 (value code, coder/value_code.h):
//   0 header type      unsigned, 3 class bits, mantissa history 1; written = value XOR expected type
//   1 granule low      signed (2-bit sign history), 5 class bits, history 3; running value, written
//                      = running value + granule_estimate
//   2 granule high     signed (1-bit), 5 class bits, single mantissa probability; running value
//   3 serial number    signed (2-bit), 5 class bits, history 3; running value
//   4 sequence number  signed (2-bit), 5 class bits, history 3; running delta, then running value
//   5 packet count     unsigned, 3 class bits, history 3, one mantissa table per class
//   6 packet length    unsigned, 4 class bits, history 5, one mantissa table per class
// and, for a page's last packet whose length is a multiple of 255, the terminating-zero decision on
// packet_probs[kTerminatingZeroProb].
//
// Who calls what:
//   header codec   open_page<Dir>(ctx, 2) for a stream's first page (so that the packing direction
//                  takes the next original page), open_page<Dir>(ctx, 0) for the comment page,
//                  begin_packet, next_lacing.
//   packet loop    start_audio_packet, then the packet's fields through the bit I/O.
//   bit I/O        next_lacing at every segment boundary.
// Every entry works in both directions and both modes: the direction is the template argument
// (Unpacking or Packing), the mode is ctx.mode.

#include "coder/bit_direction.h"
#include "coder/value_code.h"
#include "ogg/stream_context.h"

#include <cstdint>

// The serial number's shape (record 3), shared with the repeat item.
using ShapeSerialNumber = ValueShape<5, 3, true, 2>;

// Rebuild mode, either direction: the page header after "OggS" at out_cursor. Unpacking decodes the
// fields from `d` and writes them with the lacing table; packing reads them from the original page and
// encodes them into `d`. Both leave the page state set and out_cursor on the first payload byte.
// False (a failed page start) when the lacing table would pass 255 values, or, packing, when the page
// cannot be expressed.
template <class Dir> bool code_page_header(Dir& d, StreamContext& ctx, int expected_type);

// Replay mode: the fields after "OggS" from the replay input.
bool parse_page_header(StreamContext& ctx);

// Finishes the page being built: stores copies (CRC field zero) while capturing or remembering, places
// the CRC and writes the page (unpacking); out_cursor back to page_start.
template <class Dir> void flush_page(StreamContext& ctx);

// Flushes and starts the next page with the expected header type in the current mode.
template <class Dir> bool open_page(StreamContext& ctx, int expected_type);

// The next lacing value of the current packet (0 = none), starting the next page of a continued
// packet when the page's lacing values are used up.
template <class Dir> int next_lacing(StreamContext& ctx);

// Sets up the next packet of the page, starting a page when none is open.
template <class Dir> bool begin_packet(StreamContext& ctx);

// The page part of starting an audio packet; false at the end of the stream or on failure.
template <class Dir> bool start_audio_packet(StreamContext& ctx);

// True after start_audio_packet returned false because the stream's last page was used up.
inline bool stream_complete(const StreamContext& ctx) {
    return ctx.stream_ended != 0;
}

// Packing: skips the next n original pages (the pages a header copy replays instead of modelling).
// A header copy in the packing direction: find the comment and setup pages in the header store
// (store_find_match), code the copy decision and the index, load_replay() the stored record, switch to
// replay mode, skip the original pages the record stands for, and run the header codec in replay mode; the
// first start_audio_packet then takes the next original page in rebuild mode.
bool skip_original_pages(StreamContext& ctx, int32_t n);

// Sets the serial number, recomputes the CRC; returns the page's size from its lacing table.
uint32_t restamp_page(uint8_t* page, uint32_t serial);

// Restamps the whole pages of a stored record in place with `serial`; false if the record does not end
// on a page boundary (the pages before that point are restamped).
bool restamp_record(uint8_t* bytes, int32_t length, uint32_t serial);
