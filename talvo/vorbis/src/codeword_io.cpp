#include "vorbis/codeword_io.h"

#include "vorbis/residue_codec.h"

#include <algorithm>

bool build_codeword_decoder(const Codebook& book, CodewordDecoder& decoder) {
    decoder.child.assign(4, 0);
    const int32_t count = book.sparse ? book.sorted_entries : book.entries;
    for (int32_t index = 0; index < count; ++index) {
        const int length = book.codeword_lengths[index];
        if (length == kAbsentEntry) continue;
        const uint32_t code = codeword_of(book, index);
        int32_t node = 1;
        for (int i = 0; i < length; ++i) {
            const size_t slot = 2 * static_cast<size_t>(node) + ((code >> i) & 1);
            if (i == length - 1) {
                if (decoder.child[slot] != 0) return false; // not a prefix code
                decoder.child[slot] = -(index + 1);
                break;
            }
            if (decoder.child[slot] < 0) return false;
            if (decoder.child[slot] == 0) {
                decoder.child[slot] = static_cast<int32_t>(decoder.child.size() / 2);
                decoder.child.push_back(0);
                decoder.child.push_back(0);
            }
            node = decoder.child[slot];
        }
    }
    // Entries are below 2^24, so index << 5 fits; a prefix code gives every table entry one codeword
    // at most.
    static_assert(CodewordDecoder::kMaxTableBits < 32, "a length fits the low five bits");
    int longest = 0;
    for (int32_t index = 0; index < count; ++index)
        if (book.codeword_lengths[index] != kAbsentEntry)
            longest = std::max<int>(longest, book.codeword_lengths[index]);
    decoder.table_bits = std::min(longest, CodewordDecoder::kMaxTableBits);
    decoder.table.assign(size_t{1} << decoder.table_bits, 0);
    for (int32_t index = 0; index < count; ++index) {
        const int length = book.codeword_lengths[index];
        if (length == kAbsentEntry || length > decoder.table_bits) continue;
        const uint32_t code = codeword_of(book, index);
        for (uint32_t high = 0; high < (1u << (decoder.table_bits - length)); ++high)
            decoder.table[code | (high << length)] =
                static_cast<uint32_t>(index) << 5 | static_cast<uint32_t>(length);
    }
    // Division by multiplication (Granlund and Montgomery): with k = 24 + ceil(log2 d) and
    // m = ceil(2^k / d), m * d - 2^k < d <= 2^(k - 24), so (n * m) >> k == n / d for all n < 2^24;
    // m < 2^25 + 1 keeps n * m below 2^50.
    static_assert(kMaxEntries < (1 << 24), "entries and their digits stay below 2^24");
    const uint64_t d = std::max<uint64_t>(book.stored_values.size(), 1);
    int ceil_log = 0;
    while ((uint64_t{1} << ceil_log) < d)
        ++ceil_log;
    decoder.digit_shift = 24 + ceil_log;
    decoder.digit_multiplier = ((uint64_t{1} << decoder.digit_shift) + d - 1) / d;
    decoder.entry_values.clear();
    decoder.entry_dimensions = 0;
    const int64_t lookup_values = static_cast<int64_t>(book.stored_values.size());
    const int64_t dims = book.dimensions;
    if (lookup_values > 0 && dims > 0 && dims <= 64 &&
        static_cast<int64_t>(count) * dims <= CodewordDecoder::kMaxEntryValues) {
        decoder.entry_dimensions = static_cast<int32_t>(dims);
        decoder.entry_values.resize(static_cast<size_t>(count * dims));
        for (int32_t index = 0; index < count; ++index) {
            // A sparse book's index names an entry; one outside the book is refused before its values
            // are looked at.
            int64_t digits = book.sparse ? book.sorted_values[static_cast<size_t>(index)] : index;
            if (digits < 0 || digits > kMaxEntries) continue;
            for (int64_t k = 0; k < dims; ++k) {
                decoder.entry_values[static_cast<size_t>(index * dims + k)] =
                    book.stored_values[static_cast<size_t>(digits % lookup_values)] - book.value_radix / 2;
                digits /= lookup_values;
            }
        }
    }
    decoder.entry_round_trips.clear();
    if (decoder.entry_dimensions > 0 && book.has_entry_table &&
        book.value_table.size() == static_cast<size_t>(book.tuple_count)) {
        decoder.entry_round_trips.assign(static_cast<size_t>(count), 0);
        const int64_t half = book.value_radix / 2;
        for (int32_t index = 0; index < count; ++index) {
            const int64_t digits = book.sparse ? book.sorted_values[static_cast<size_t>(index)] : index;
            if (book.codeword_lengths[index] == kAbsentEntry || digits < 0 || digits > kMaxEntries) continue;
            // As the residue codes a vector: the code of at most 64 values within the magnitudes stays
            // far inside 64 bits.
            bool coded = true;
            int64_t code = 0;
            for (int64_t k = 0; k < dims; ++k) {
                const int32_t v = decoder.entry_values[static_cast<size_t>(index * dims + k)];
                coded = coded && v >= -kMaxResidueMagnitude && v <= kMaxResidueMagnitude;
                code = code * book.value_radix + v + half;
            }
            decoder.entry_round_trips[static_cast<size_t>(index)] =
                coded && code >= 0 && code < book.tuple_count &&
                book.value_table[static_cast<size_t>(code)] == index;
        }
    }
    decoder.built = true;
    return true;
}

int32_t codeword_in_tree(const CodewordDecoder& decoder, uint64_t window, int& length) {
    int32_t node = 1;
    for (length = 1; length <= kMaxCodewordLength; ++length) {
        const int32_t next = decoder.child[2 * static_cast<size_t>(node) + (window & 1)];
        window >>= 1;
        if (next <= 0) return next < 0 ? -(next + 1) : -1;
        node = next;
    }
    length = kMaxCodewordLength;
    return -1;
}

int32_t take_codeword_bitwise(StreamContext& ctx, const CodewordDecoder& decoder) {
    int32_t node = 1;
    for (int i = 0; i < kMaxCodewordLength; ++i) {
        const int32_t next = decoder.child[2 * static_cast<size_t>(node) + take_bits(ctx, 1)];
        if (next < 0) return -(next + 1);
        if (next == 0) return -1;
        node = next;
    }
    return -1;
}

const CodewordDecoder* build_decoder_for(VorbisSetup& setup, int number) {
    if (setup.decoders.size() != setup.codebooks.size())
        setup.decoders.assign(setup.codebooks.size(), CodewordDecoder{});
    CodewordDecoder& decoder = setup.decoders[static_cast<size_t>(number)];
    if (!decoder.built && !build_codeword_decoder(setup.codebooks[static_cast<size_t>(number)], decoder))
        return nullptr;
    return &decoder;
}

int peek_codeword_length(const StreamContext& ctx, const CodewordDecoder& decoder, int32_t bits_left) {
    if (packet_overrun(ctx)) return 0;
    const uint8_t* p = ctx.out_cursor;
    int bit = ctx.bit_pos;
    int32_t node = 1;
    for (int length = 1; length <= bits_left && length <= kMaxCodewordLength; ++length) {
        if (bit == 8) {
            ++p;
            bit = 0;
        }
        if (p >= ctx.original_page_end) return 0;
        const int32_t next = decoder.child[2 * static_cast<size_t>(node) + ((*p >> bit) & 1)];
        ++bit;
        if (next < 0) return length;
        if (next == 0) return 0;
        node = next;
    }
    return 0;
}
