#pragma once

// A small reference reader of Ogg Vorbis for tests: splits a file into logical streams and packets with
// libogg, parses the identification and setup headers bit by bit as Vorbis I lays them out (independently
// of the library under test), and walks audio packets through their floor and residue codewords with
// codeword tables supplied by the caller. A wrong codeword table desynchronises the walk at once, so a
// walk that ends exactly at each packet's last byte is strong evidence that the table is right.

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vorbis_reference {

// True when libogg and libvorbis are linked (native builds).
bool available();

struct LogicalStream {
    uint32_t serial = 0;
    std::vector<std::vector<uint8_t>> packets;
};

std::vector<LogicalStream> read_streams(const std::vector<uint8_t>& file);

struct Book {
    int dimensions = 0;
    int entries = 0;
    bool ordered = false;
    bool sparse_coded = false;
    int present = 0;
    std::vector<uint8_t> lengths; // 255 = absent
    int lookup_type = 0;
    int lookup_values = 0;
    int value_bits = 0;
    std::vector<int> values;
};

struct Floor {
    int partitions = 0;
    std::vector<int> partition_class;
    std::array<int, 16> class_dimensions{}, class_subclasses{}, class_masterbook{};
    std::array<std::array<int, 8>, 16> subclass_books{};
    int multiplier = 0;
    int range_bits = 0;
    std::vector<int> x_list;
};

struct Residue {
    int type = 0;
    uint32_t begin = 0, end = 0, partition_size = 0;
    int classifications = 0;
    int classbook = 0;
    std::vector<std::array<int, 8>> books;
};

struct Mapping {
    int submaps = 1;
    std::vector<std::pair<int, int>> coupling; // magnitude, angle
    std::vector<int> mux;
    std::array<int, 16> floor{}, residue{};
};

struct Mode {
    int blockflag = 0;
    int mapping = 0;
};

struct StreamSetup {
    int channels = 0;
    std::array<int, 2> blocksize{};
    std::vector<Book> books;
    std::vector<Floor> floors;
    std::vector<Residue> residues;
    std::vector<Mapping> mappings;
    std::vector<Mode> modes;
};

// The pages of a file as {offset, size}, read from their headers (no CRC check); stops at the first
// byte that does not start a whole page.
std::vector<std::pair<size_t, size_t>> page_spans(const std::vector<uint8_t>& file);

// Parses packets 0 and 2 of a stream. False if they are not valid Vorbis I headers.
bool parse_headers(const LogicalStream& stream, StreamSetup& setup);

// libvorbis's own verdict on the three headers, and its block size for every packet (headers get 0).
bool libvorbis_accepts_headers(const LogicalStream& stream);
std::vector<long> libvorbis_packet_blocksizes(const LogicalStream& stream);

// libvorbis decoding the whole stream to PCM: whether every audio packet was accepted, and the samples
// per channel it produced.
struct Decoded {
    bool ok = false;
    long samples = 0;
};
Decoded libvorbis_decode(const LogicalStream& stream);

// Codeword table of one book: (length << 32 | codeword in emission order) -> entry.
using CodewordTable = std::unordered_map<uint64_t, int32_t>;
inline uint64_t codeword_key(int length, uint32_t codeword) {
    return (static_cast<uint64_t>(length) << 32) | codeword;
}

struct Walk {
    bool valid = true;        // every codeword was found in its table
    bool reached_end = false; // the packet ended inside a field (a cut packet)
    long bits = 0;            // bits used
    int mode = 0;
    long codewords = 0; // codewords read
};

Walk walk_audio_packet(const StreamSetup& setup, const std::vector<CodewordTable>& tables,
                       const std::vector<uint8_t>& packet);

} // namespace vorbis_reference
