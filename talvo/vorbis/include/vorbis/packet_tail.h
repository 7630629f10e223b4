#pragma once

// The bytes of a packet after its last Vorbis field. A packet's length is fixed by its page's lacing
// before its content is rebuilt, so whatever an encoder left after the last field (padding, or data the
// model does not parse) is carried as tail bytes: either "all zero" (one coded bit) or byte by byte.

#include "vorbis/vorbis_context.h"

#include <cstdint>

// Rebuild mode: codes the tail and leaves out_cursor one past the packet's last byte with bit_pos 0.
// Replay mode: consumes the rest of the replayed packet; false when it holds more than the packet
// scratch area (32,768 bytes).
template <class Dir> bool finish_packet(Dir& d, VorbisContext& ctx);
