#include "vorbis/codebook_tables.h"

#include <algorithm>
#include <cmath>
#include <numeric>

uint32_t reverse_bits32(uint32_t v) {
    v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
    v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
    v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
    v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
    return (v >> 16) | (v << 16);
}

namespace {

bool length_in_range(uint8_t length) {
    return length >= 1 && length <= kMaxCodewordLength;
}

uint32_t depth_bit(int depth) {
    return uint32_t{1} << (32 - depth);
}

} // namespace

bool assign_codewords(Codebook& book, const uint8_t* lengths, int32_t count, int32_t* entry_numbers) {
    // free_code[d]: lowest free codeword of depth d, left-aligned; 0 = none left at that depth.
    uint32_t free_code[kMaxCodewordLength + 1] = {};
    int32_t k = 0;
    while (k < count && lengths[k] == kAbsentEntry)
        ++k;
    if (k == count) return true;
    if (!length_in_range(lengths[k])) return false;

    int32_t m = 0;
    auto emit = [&](int32_t entry, uint32_t codeword) {
        if (book.sparse) {
            book.codewords[m] = codeword;
            book.codeword_lengths[m] = lengths[entry];
            entry_numbers[m] = entry;
        } else {
            book.codewords[entry] = codeword;
        }
        ++m;
    };

    emit(k, 0);
    for (int d = 1; d <= lengths[k]; ++d)
        free_code[d] = depth_bit(d);
    for (int32_t i = k + 1; i < count; ++i) {
        const uint8_t length = lengths[i];
        if (length == kAbsentEntry) continue;
        if (!length_in_range(length)) return false;
        int z = length;
        while (z > 0 && free_code[z] == 0)
            --z;
        if (z == 0) return false;
        const uint32_t res = free_code[z];
        free_code[z] = 0;
        emit(i, reverse_bits32(res));
        for (int d = length; d > z; --d)
            free_code[d] = res + depth_bit(d);
    }
    return true;
}

void build_codeword_lookup(Codebook& book, const uint8_t* lengths, const int32_t* entry_numbers) {
    const int32_t s = book.sorted_entries;
    std::vector<uint32_t>& sorted = book.sorted_codewords;
    for (int32_t m = 0; m < s; ++m)
        sorted[m] = reverse_bits32(book.codewords[m]);
    std::sort(sorted.begin(), sorted.begin() + s);
    sorted[s] = 0xFFFFFFFFu;
    for (int32_t m = 0; m < s; ++m) {
        const uint32_t key = reverse_bits32(book.codewords[m]);
        int32_t x = 0, n = s;
        while (n > 1) {
            const int32_t h = x + n / 2;
            if (sorted[h] <= key) {
                x = h;
                n -= n / 2;
            } else {
                n /= 2;
            }
        }
        book.sorted_values[x] = entry_numbers[m];
        book.codeword_lengths[x] = lengths[entry_numbers[m]];
    }
    for (int32_t x = 0; x < s; ++x)
        sorted[x] = reverse_bits32(sorted[x]);
}

int32_t lookup1_values(int32_t entries, int32_t dimensions) {
    if (entries <= 0 || dimensions <= 0) return 0;
    // Each step is rounded to the precision the format's reference computation uses; the header carries
    // exactly this many values, so one ulp of difference would misparse the whole setup.
    const float log_entries = std::log(static_cast<float>(entries));
    const float root_log = log_entries / static_cast<float>(dimensions);
    const double root = std::floor(std::exp(static_cast<double>(root_log)));
    const int32_t r = static_cast<int32_t>(root);
    const float next = static_cast<float>(r) + 1.0f;
    if (std::floor(std::pow(static_cast<double>(next), dimensions)) <= static_cast<double>(entries))
        return r + 1;
    return r;
}

int32_t int_power(int32_t base, int32_t exponent) {
    if (exponent <= 1) return base;
    uint32_t result = static_cast<uint32_t>(base);
    for (int32_t i = 1; i < exponent; ++i)
        result *= static_cast<uint32_t>(base);
    return static_cast<int32_t>(result);
}

void find_floor1_neighbours(const uint16_t* x_list, int j, int& low, int& high) {
    int best_low = -1, best_high = 65536;
    for (int i = 0; i < j; ++i) {
        const int x = x_list[i];
        if (x > best_low && x < x_list[j]) {
            low = i;
            best_low = x;
        }
        if (x < best_high && x > x_list[j]) {
            high = i;
            best_high = x;
        }
    }
}

bool derive_codewords(Codebook& book, std::vector<uint8_t>& lengths, int32_t present) {
    const int32_t entries = book.entries;
    if (book.sparse && present >= entries / 4) book.sparse = 0;
    if (!book.sparse) {
        if (!allocate_table(book.codewords, static_cast<size_t>(entries), 0u)) return false;
        book.codeword_lengths = std::move(lengths);
        return assign_codewords(book, book.codeword_lengths.data(), entries, nullptr);
    }
    book.sorted_entries = present;
    if (present == 0) {
        book.codeword_lengths.clear();
        lengths.clear();
        return true;
    }
    std::vector<int32_t> entry_numbers;
    if (!allocate_table(book.codewords, static_cast<size_t>(present), 0u) ||
        !allocate_table(book.codeword_lengths, static_cast<size_t>(present), uint8_t{0}) ||
        !allocate_table(entry_numbers, static_cast<size_t>(present), 0) ||
        !allocate_table(book.sorted_codewords, static_cast<size_t>(present) + 1, 0u) ||
        !allocate_table(book.sorted_values, static_cast<size_t>(present), 0))
        return false;
    if (!assign_codewords(book, lengths.data(), entries, entry_numbers.data())) return false;
    build_codeword_lookup(book, lengths.data(), entry_numbers.data());
    book.codewords.clear();
    book.codewords.shrink_to_fit();
    lengths.clear();
    return true;
}

bool build_value_table(Codebook& book, const std::vector<int16_t>& stored) {
    if (stored.empty()) return false;
    if (book.lookup_type == 2) {
        if (!allocate_table(book.value_table, stored.size(), 0)) return false;
        std::copy(stored.begin(), stored.end(), book.value_table.begin());
        book.has_entry_table = false;
        return true;
    }
    book.stored_values = stored;
    int32_t largest = 0;
    for (int16_t v : stored)
        largest = std::max<int32_t>(largest, v);
    book.value_radix = largest + 1;
    book.tuple_count = int_power(book.value_radix, book.dimensions);
    // The exact size decides whether the table can be held; the wrapped 32-bit power is what the format
    // records, so both must agree before anything is indexed.
    int64_t exact = 1;
    for (int32_t k = 0; k < std::max(book.dimensions, 1) && exact <= kMaxTupleCount; ++k)
        exact *= book.value_radix;
    if (exact > kMaxTupleCount || exact != book.tuple_count || book.tuple_count <= 0) return false;
    const bool sparse = book.sparse != 0;
    const int32_t count = sparse ? book.sorted_entries : book.entries;
    if (static_cast<int64_t>(count) * book.dimensions > kMaxEntryTableWork) return false;
    if (!allocate_table(book.value_table, static_cast<size_t>(book.tuple_count), 0)) return false;
    const int64_t lookup_values = static_cast<int64_t>(stored.size());
    for (int32_t index = 0; index < count; ++index) {
        const int64_t entry = sparse ? book.sorted_values[index] : index;
        int64_t code = 0;
        int64_t divisor = 1;
        for (int32_t k = 0; k < book.dimensions; ++k) {
            const int64_t value = stored[static_cast<size_t>((entry / divisor) % lookup_values)];
            // A negative stored value (a 16-bit field above 32,767) would index before the table.
            if (value < 0) return false;
            code = code * book.value_radix + value;
            if (divisor <= entry) divisor *= lookup_values;
        }
        book.value_table[static_cast<size_t>(code)] = index;
    }
    book.has_entry_table = true;
    book.lookup_type = 2;
    return true;
}

void derive_floor1_order(Floor1& floor) {
    std::array<uint8_t, kMaxFloorValues> order{};
    std::iota(order.begin(), order.begin() + floor.values, uint8_t{0});
    std::stable_sort(order.begin(), order.begin() + floor.values,
                     [&](uint8_t a, uint8_t b) { return floor.x_list[a] < floor.x_list[b]; });
    floor.sorted_order = order;
    for (int j = 2; j < floor.values; ++j) {
        int low = 0, high = 1;
        find_floor1_neighbours(floor.x_list.data(), j, low, high);
        floor.neighbours[j] = {static_cast<uint8_t>(low), static_cast<uint8_t>(high)};
    }
}

bool build_class_digits(Residue& residue, const Codebook& classbook) {
    const int64_t entries = classbook.entries;
    const int64_t dims = classbook.dimensions;
    if (entries <= 0 || entries * dims > kMaxClassDigitBytes) return false;
    if (!allocate_table(residue.class_digits, static_cast<size_t>(entries * dims), uint8_t{0})) return false;
    for (int64_t j = 0; j < entries; ++j) {
        int64_t rest = j;
        for (int64_t i = dims - 1; i >= 0; --i) {
            residue.class_digits[static_cast<size_t>(j * dims + i)] =
                static_cast<uint8_t>(rest % residue.classifications);
            rest /= residue.classifications;
        }
    }
    return true;
}
