#pragma once

// One-byte audio packets in Ogg Vorbis files: where a file has them, and a cutter that makes them.
//
// Encoders (oggenc, ffmpeg's libvorbis) write digital silence as one-byte audio packets: the packet type,
// the mode number, the window flags and every floor flag 0. The cutter makes the same from any audio
// packet of encoder output: it keeps the packet's type bit, mode number and window flags and drops the
// rest, so block sizes and granule positions stay valid and decoders play the packet as silence. With
// five or more channels the floor flags of such a packet run past its only byte.
//
// Pure page walking (no libogg), so the Windows test build runs it too. Single-stream files only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// One packet of a logical stream, as its pages lay it out.
struct PacketPlace {
    size_t length = 0;
    size_t first_page = 0;      // page index where it starts
    size_t last_page = 0;       // page index where it ends
    bool ends_its_page = false; // its last segment is the last segment of its page
    std::vector<uint8_t> bytes;
};

// The packets of a single-stream Ogg file (headers included), in order. Empty when the file has pages
// of more than one serial number or does not parse as whole pages.
std::vector<PacketPlace> packet_places(const std::vector<uint8_t>& ogg);

// Where a file's one-byte audio packets lie.
struct OneBytePlacements {
    size_t count = 0;
    bool at_stream_start = false;       // the first audio packet
    size_t longest_run = 0;             // consecutive one-byte packets
    bool alone_between_full = false;    // a one-byte packet with longer packets on both sides
    bool last_on_a_page = false;        // ends its page, and more of the stream follows
    bool last_of_stream = false;        // the stream's final packet
    bool floor_flags_past_end = false;  // its type, mode, window and floor flags need more than 8 bits
    bool floor_flags_fill_byte = false; // they need exactly 8 bits
};

OneBytePlacements one_byte_placements(const std::vector<uint8_t>& ogg);

// Cuts the audio packets for which `choose(audio_index)` is true (0 = the first packet after the three
// headers) to one byte holding their type bit, mode number and window flags. Packets that span pages
// stay whole. Pages are rebuilt with new lacing and CRC; everything else stays as it was. Empty when the
// file is not a single Vorbis stream whose setup header parses.
std::vector<uint8_t> cut_audio_packets(const std::vector<uint8_t>& ogg,
                                       const std::function<bool(size_t)>& choose);
