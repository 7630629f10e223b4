#pragma once

// Floor 1 of an audio packet, in both directions. The archive holds each channel's nonzero flag and its
// Y values, coded in ascending X order under contexts of the floor, the X index and the class of the
// value last coded there; the packet holds them in X-list order behind class and sub-class codewords
// that the unpacker chooses by itself (the first sub-class whose book can hold the value). Packing
// parses the original floor first, then codes it, and refuses a floor whose encoder chose otherwise.

#include "vorbis/vorbis_context.h"
#include "vorbis/vorbis_setup.h"

#include <cstdint>

// The class memory holds 256 X indices for each of these floors.
constexpr int kFloorClassMemoryFloors = 4;

// Bits of Y[0] and Y[1] for a floor multiplier of 1..4: ilog(range - 1) for the ranges 256, 128, 86, 64.
int floor1_end_value_bits(int multiplier);

// Codes every channel's floor of the packet's mapping; no_floor[c] becomes 1 for a channel whose floor
// is unused (nothing more is coded for it), else 0. False when a floor cannot be written (unpacking) or
// the original cannot be expressed (packing).
template <class Dir> bool code_floor1(Dir& d, VorbisContext& ctx, const Mapping& mapping, int32_t* no_floor);
