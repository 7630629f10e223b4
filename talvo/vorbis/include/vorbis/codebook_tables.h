#pragma once

// Tables derived from a setup header while it is rebuilt: codewords from codeword lengths, the sorted
// order of sparse books, lookup value counts, value-to-entry tables and floor 1 neighbours.

#include "vorbis/vorbis_setup.h"

#include <cstdint>
#include <vector>

// Most expensive table build a type-1 book may ask for: entries x dimensions digit extractions.
constexpr int64_t kMaxEntryTableWork = int64_t{1} << 26;
// Most stored lookup values a book may carry.
constexpr int64_t kMaxLookupValues = int64_t{1} << 24;

uint32_t reverse_bits32(uint32_t v);

// Vorbis I codeword assignment: in entry order, each present entry (length < kAbsentEntry) takes the
// numerically lowest free codeword of its length. Codewords come out in emission order (LSB first).
// A book that is not sparse gets book.codewords[entry] (sized `count` by the caller); a sparse book gets
// the compact lists book.codewords[m], book.codeword_lengths[m] and entry_numbers[m] in assignment order
// (each sized to the number of present entries by the caller). False when the lengths over-subscribe
// the code or a length is outside 1..32.
bool assign_codewords(Codebook& book, const uint8_t* lengths, int32_t count, int32_t* entry_numbers);

// Sparse book with book.sorted_entries > 0 and compact codewords from assign_codewords: fills
// sorted_codewords (+ terminator), sorted_values and the sorted codeword_lengths.
void build_codeword_lookup(Codebook& book, const uint8_t* lengths, const int32_t* entry_numbers);

// Number of stored values of a type-1 book, computed with exactly the float steps the format relies on:
// single-precision log and division, double-precision exponential and power, one correction step.
// 0 when entries or dimensions is not positive.
int32_t lookup1_values(int32_t entries, int32_t dimensions);

// base to the power exponent in 32-bit wrapping arithmetic; an exponent of 1 or less gives base.
int32_t int_power(int32_t base, int32_t exponent);

// Low and high neighbour of x_list[j] among the earlier X values (strict comparisons, earliest index on
// ties). An output without candidate keeps the caller's value.
void find_floor1_neighbours(const uint16_t* x_list, int j, int& low, int& high);

// After a codebook's lengths are known (one per entry, `present` of them present): decides the sparse
// form, assigns the codewords and builds the sorted lists of a sparse book. `lengths` is consumed.
// False when the lengths are no prefix code or a table cannot be allocated.
bool derive_codewords(Codebook& book, std::vector<uint8_t>& lengths, int32_t present);

// After a type-1 or type-2 book's stored values are known: type 1 gets value_radix, tuple_count and its
// value-to-entry table and becomes type 2; type 2 keeps a copy of the values. False for a table that is
// empty, too large to hold, or that a stored value would index outside of.
bool build_value_table(Codebook& book, const std::vector<int16_t>& stored);

// Sorted X order and the neighbours of every X position of a floor whose x_list and values are set.
void derive_floor1_order(Floor1& floor);

// Base-`classifications` digits of every class book entry, most significant first. False for a book
// with no entries or a table beyond kMaxClassDigitBytes.
bool build_class_digits(Residue& residue, const Codebook& classbook);
