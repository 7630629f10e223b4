#pragma once

// Test helper: small Ogg Vorbis streams written from a description, so that tests can reach setups
// real encoders never write (a floor multiplier of 3, residue type 0, sparse floor books, too many
// floors, ...). Headers follow the Vorbis I bit layout; audio packets carry pseudo-random floors and
// residues written with the codewords the Vorbis I assignment gives; libogg lays out the pages.

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vorbis_writer {

struct Book {
    int dimensions = 1;
    int entries = 0;
    std::vector<uint8_t> lengths; // 0 = absent (sparse books only)
    bool ordered = false;         // lengths written as runs (they must be non-decreasing)
    bool sparse = false;
    int lookup_type = 0;
    std::vector<int> values; // stored lookup values
    int value_bits = 0;
    bool sequence_p = false;
};

struct FloorClass {
    int dimensions = 1;
    int subclasses = 0;
    int masterbook = 0;
    std::vector<int> books; // 1 << subclasses entries, -1 = none
};

struct Floor {
    int type = 1;
    std::vector<int> partition_class;
    std::vector<FloorClass> classes;
    int multiplier = 2;
    int range_bits = 7;
    std::vector<int> x; // after the two implicit positions
};

struct Residue {
    int type = 1;
    uint32_t begin = 0, end = 64, partition_size = 16;
    int classifications = 2;
    int classbook = 0;
    std::vector<std::array<int, 8>> books; // per classification and pass, -1 = none
};

struct Mapping {
    int submaps = 1;
    std::vector<std::pair<int, int>> coupling;
    std::vector<int> mux; // empty: all 0
    std::vector<int> floor{0}, residue{0};
};

struct Mode {
    int blockflag = 0;
    int mapping = 0;
};

struct Stream {
    int channels = 1;
    int exponent0 = 8, exponent1 = 11;
    std::vector<Book> books;
    std::vector<Floor> floors;
    std::vector<Residue> residues;
    std::vector<Mapping> mappings;
    std::vector<Mode> modes;
    size_t setup_tail = 0; // zero bytes after the setup header's framing bit
};

// A small valid stream: one floor (multiplier as given) with a 128-entry Y book, one residue of the given
// type (0, 1 or 2) over a 9-entry two-dimensional VQ book, one mapping (two channels coupled), a short
// and a long mode.
Stream small_stream(int channels, int multiplier, int residue_type);

std::vector<uint8_t> identification_packet(const Stream& s);
std::vector<uint8_t> comment_packet();
std::vector<uint8_t> setup_packet(const Stream& s);
// One audio packet with pseudo-random content from `seed`.
std::vector<uint8_t> audio_packet(const Stream& s, uint32_t seed);

// A whole Ogg file of the three headers and `packets` audio packets.
std::vector<uint8_t> ogg_file(const Stream& s, int packets, uint32_t seed);
// The same with the given audio packets.
std::vector<uint8_t> ogg_file(const Stream& s, const std::vector<std::vector<uint8_t>>& audio);

} // namespace vorbis_writer
