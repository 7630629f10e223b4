#pragma once

// The decoding setup of one logical Vorbis stream: what the identification and setup headers say, plus
// the tables derived from them that the packet codecs need to turn modelled values back into
// codewords. Rebuilt from scratch for every logical stream and released when it ends.

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

constexpr int kMaxChannels = 8;
constexpr int kMaxCodebooks = 256;
constexpr int kMaxSetupItems = 64; // floors, residues, mappings, modes
constexpr int kMaxFloorPartitions = 31;
constexpr int kMaxFloorClasses = 16;
constexpr int kMaxFloorValues = 250;
constexpr int kMaxSubmaps = 16;
constexpr int kMaxClassifications = 64;
constexpr int kResiduePasses = 8;
constexpr int kMaxCodewordLength = 32;
constexpr int32_t kMaxEntries = 0xFFFFFF;
constexpr uint8_t kAbsentEntry = 255;
constexpr int32_t kPacketScratchBytes = 32768;

// Tables that grow with a book's parameters are bounded, so that a hostile header cannot make the
// program allocate gigabytes or wrap a size computation.
constexpr int64_t kMaxTupleCount = int64_t{1} << 24;
constexpr int64_t kMaxClassDigitBytes = int64_t{1} << 24;

struct Codebook {
    int32_t dimensions = 0;
    int32_t entries = 0;
    // One length per entry (1..32, kAbsentEntry = absent); for a sparse book, one per sorted index.
    std::vector<uint8_t> codeword_lengths;
    float minimum_value = 0.0f;
    float delta_value = 0.0f;
    uint8_t value_bits = 0;
    uint8_t lookup_type = 0; // a type-1 book becomes 2 once its value-to-entry table is built
    uint8_t sequence_p = 0;
    uint8_t sparse = 0;
    int32_t lookup_values = 0;
    int32_t value_radix = 0;
    int32_t tuple_count = 0;
    int32_t model_slot = 0;
    // Type 1: the value-to-entry table (entry, or sorted index for a sparse book), `tuple_count` long.
    // Type 2: the stored lookup values in coded order. Held 32 bits wide so entry numbers above 65,535
    // are not cut.
    std::vector<int32_t> value_table;
    bool has_entry_table = false; // value_table is a value-to-entry table (coded lookup type 1)
    // The stored lookup values of a coded type-1 book, kept so that packing can turn an entry back into
    // its tuple of values.
    std::vector<int16_t> stored_values;
    // Codeword per entry in emission order (LSB first); empty for a sparse book.
    std::vector<uint32_t> codewords;
    // Sparse book only: sorted codewords (emission order) + terminator 0xFFFFFFFF, and the entry number
    // of each sorted index.
    std::vector<uint32_t> sorted_codewords;
    std::vector<int32_t> sorted_values;
    int32_t sorted_entries = 0;
};

struct Floor1 {
    uint8_t partitions = 0;
    std::array<uint8_t, kMaxFloorPartitions + 1> partition_class{};
    std::array<uint8_t, kMaxFloorClasses> class_dimensions{};
    std::array<uint8_t, kMaxFloorClasses> class_subclasses{};
    std::array<uint8_t, kMaxFloorClasses> class_masterbook{};
    std::array<std::array<int16_t, 8>, kMaxFloorClasses> subclass_books{};
    std::array<uint16_t, kMaxFloorValues> x_list{};
    std::array<uint8_t, kMaxFloorValues> sorted_order{};
    std::array<std::array<uint8_t, 2>, kMaxFloorValues> neighbours{};
    uint8_t multiplier = 0;
    uint8_t range_bits = 0;
    int32_t values = 0;
};

struct Residue {
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t partition_size = 0;
    uint8_t classifications = 0;
    uint8_t classbook = 0;
    // For every entry j of the class book, its base-`classifications` digits, most significant first:
    // `class_digits`[j x dimensions + i].
    std::vector<uint8_t> class_digits;
    std::vector<std::array<int16_t, kResiduePasses>> books; // per classification and pass; -1 = none
    std::vector<uint8_t> class_passes; // per classification: bit k set where books[class][k] is a book
};
static_assert(kResiduePasses <= 8, "a classification's passes fit class_passes");

struct MappingChannel {
    uint8_t magnitude = 0;
    uint8_t angle = 0;
    uint8_t mux = 0;
};

struct Mapping {
    uint16_t coupling_steps = 0;
    std::vector<MappingChannel> channel; // one per audio channel
    uint8_t submaps = 1;
    std::array<uint8_t, kMaxSubmaps> submap_floor{};
    std::array<uint8_t, kMaxSubmaps> submap_residue{};
};

struct Mode {
    uint8_t blockflag = 0;
    uint8_t mapping = 0;
    uint16_t window_type = 0;
    uint16_t transform_type = 0;
};

// State of the residue value models that carries from value to value and packet to packet.
struct ResidueState {
    uint8_t last_nonzero = 0;
    std::array<uint8_t, 4> sign_history{};
    uint8_t last_class = 0;
    uint8_t last_slot = 0;
};

// Binary decoding tree of one book (packing reads codewords with it): node n has children child[2n] and
// child[2n + 1]; a child below 0 is the leaf of index -(child + 1), 0 is no codeword.
// Packing: a book's codewords as they are read, lowest bit first. `child` is the binary tree (a
// negative child is a leaf, -(index + 1); 0 is no codeword). `table` answers the first table_bits bits
// at once: (index << 5) | length for a codeword of up to table_bits bits, 0 where the tree decides
// (longer codewords, and bits that form none).
struct CodewordDecoder {
    static constexpr int kMaxTableBits = 10;
    std::vector<int32_t> child;
    std::vector<uint32_t> table;
    int table_bits = 0;
    // An entry's digits base lookup_values (the book's stored values it stands for) without a division:
    // n / lookup_values == (n * digit_multiplier) >> digit_shift for every n up to kMaxEntries.
    uint64_t digit_multiplier = 0;
    int digit_shift = 0;
    // The values each codeword's entry stands for, centred as the residue codes them (`dimensions` per
    // codeword index), when the book has stored values and the table stays within kMaxEntryValues;
    // empty otherwise (the digits are then worked out per vector).
    static constexpr int64_t kMaxEntryValues = int64_t{1} << 20;
    std::vector<int32_t> entry_values;
    int32_t entry_dimensions = 0;
    // Per codeword index: 1 where a full vector of its entry values is one the residue codes and names
    // this index again (every value within the residue's magnitudes, the tuple code inside the book's
    // value-to-entry table and leading back to the index), so packing need not check it per vector.
    std::vector<uint8_t> entry_round_trips;
    bool built = false;
};

struct VorbisSetup {
    int8_t channels = 0;
    std::array<int32_t, 2> blocksize{};         // short, long; published when the setup header is complete
    std::array<int32_t, 2> pending_blocksize{}; // from the identification header until then
    int32_t codebook_count = 0;
    std::vector<Codebook> codebooks;
    int32_t floor_count = 0;
    std::array<uint16_t, kMaxSetupItems> floor_types{};
    std::vector<Floor1> floors;
    int32_t residue_count = 0;
    std::array<uint16_t, kMaxSetupItems> residue_types{};
    std::vector<Residue> residues;
    uint32_t max_partition_slots = 1;
    // Per channel `max_partition_slots` classes, channel c at c x max_partition_slots.
    std::vector<int32_t> partition_scratch;
    int32_t mapping_count = 0;
    std::vector<Mapping> mappings;
    uint8_t mode_count = 0;
    uint8_t mode_bits = 0;
    std::array<Mode, kMaxSetupItems> modes{};
    std::array<std::vector<uint32_t>, kMaxChannels> channel_spectrum;
    std::array<std::vector<int16_t>, kMaxChannels> channel_floor_y;
    int32_t longest_floor_values = 0;
    std::vector<uint8_t> packet_scratch;
    ResidueState residue_state;
    // Packing, per audio packet: where the original packet ends inside the residue has been found, and
    // truncated_bits / truncated_code of the stream context hold it.
    bool packet_cut_decided = false;
    // Packing: the header-store record (recency index) whose pages equal this stream's comment and setup
    // pages, and how many original pages they are; 0 pages when the header set is coded field by field.
    uint32_t packing_header_record = 0;
    int32_t packing_header_pages = 0;
    // Packing: whether a header set coded field by field is captured into the header store.
    bool packing_capture = true;
    // Packing only: a decoding tree per codebook, built on first use.
    std::vector<CodewordDecoder> decoders;
};

// Number of significant bits of v (0 for 0), as Vorbis I defines it.
// (A builtin, not std::bit_width: in the residue loops the compiler's growth limits left that one a call,
// and a call there forces the coder's state out of registers.)
[[gnu::always_inline]] constexpr int ilog(uint32_t v) {
    return v == 0 ? 0 : 32 - __builtin_clz(v);
}

// Sizes a table, reporting failure instead of throwing: a setup whose tables cannot be allocated is
// refused like any other broken setup.
template <class T> bool allocate_table(std::vector<T>& table, size_t count, const T& fill = T()) {
    try {
        table.assign(count, fill);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

// Frees everything the stream's setup owns and leaves it empty for the next logical stream.
void release_vorbis_setup(VorbisSetup& setup);

// Classes of channel `channel` in the residue codec's per-channel classification scratch.
inline int32_t* partition_classes(VorbisSetup& setup, int channel) {
    return setup.partition_scratch.data() + static_cast<size_t>(channel) * setup.max_partition_slots;
}
