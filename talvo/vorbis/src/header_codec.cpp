#include "vorbis/header_codec.h"

#include "coder/bit_direction.h"
#include "ogg/bit_io.h"
#include "ogg/page_layer.h"
#include "ogg/page_store.h"
#include "vorbis/codebook_slots.h"
#include "vorbis/codebook_tables.h"
#include "vorbis/codec_events.h"
#include "vorbis/field_coders.h"
#include "vorbis/floor1_codec.h"
#include "vorbis/packet_tail.h"
#include "vorbis/residue_codec.h"
#include "vorbis/vorbis_setup.h"

namespace {

bool in_field(int32_t value, int bits) {
    return value >= 0 && (bits >= 31 || value < (int32_t{1} << bits));
}

// A field the format fixes: written as the constant (unpacking), read and compared (packing, replay).
template <class Dir> bool constant_field(VorbisContext& ctx, uint32_t value, int bits) {
    if (ctx.mode == CodingMode::Replay) return read_bits<Dir>(ctx, bits) == value;
    if constexpr (Dir::packing) {
        return take_bits(ctx, bits) == value || fail_stream<Dir>(ctx);
    } else {
        write_bits(ctx, value, bits);
        return true;
    }
}

template <class Dir> bool identification_header(Dir& data, VorbisContext& ctx) {
    VorbisSetup& setup = *ctx.setup;
    ModelArea& models = *ctx.models;
    if (!open_page<Dir>(ctx, kOggFirstPage)) return false;
    if (ctx.segment_count != 1 || ctx.lacing[0] != 30) return fail_stream<Dir>(ctx);
    static const uint8_t start[11] = {1, 'v', 'o', 'r', 'b', 'i', 's', 0, 0, 0, 0};
    for (uint8_t b : start)
        if (transfer_aligned_byte<Dir>(ctx, b) != b) return fail_stream<Dir>(ctx);
    const int32_t channels = code_byte_c2m0(data, ctx, models[kModelChannels]) & 0xFF;
    if (channels == 0 || channels > kMaxChannels) return fail_stream<Dir>(ctx);
    if (code_word_c5m3(data, ctx, models[kModelSampleRate]) == 0) return fail_stream<Dir>(ctx);
    for (int m = kModelBitrateMaximum; m <= kModelBitrateMinimum; ++m)
        code_word_c5m3(data, ctx, models[m]);
    const int32_t sizes = code_byte_c3m3(data, ctx, models[kModelBlockSizes]) & 0xFF;
    const int e0 = sizes & 15, e1 = sizes >> 4;
    if (e0 < 6 || e0 > 13 || e1 < 6 || e1 > 13 || e0 > e1) return fail_stream<Dir>(ctx);
    if (!(code_byte_c3m3(data, ctx, models[kModelIdentificationFraming]) & 1)) return fail_stream<Dir>(ctx);
    setup.channels = static_cast<int8_t>(channels);
    setup.pending_blocksize = {1 << e0, 1 << e1};
    return !ctx.inexpressible;
}

template <class Dir> bool copy_header_set(Dir& control, VorbisContext& ctx) {
    flush_page<Dir>(ctx);
    ctx.mode = CodingMode::Replay;
    uint32_t known = 0;
    if constexpr (Dir::packing) known = ctx.setup->packing_header_record;
    const uint32_t k = code_store_index(control, (*ctx.models)[kModelHeaderStoreIndex], known);
    uint8_t* bytes = nullptr;
    int32_t length = 0;
    if (!store_lookup(*ctx.header_store, k, bytes, length)) {
        if constexpr (!Dir::packing) report_event(ctx.events, CodecEvent::MissingStoredRecord);
        return false;
    }
    load_replay(ctx, bytes, length);
    // The serial number of the identification page, still in place.
    const uint32_t serial = read_le32(ctx.page_start + kOggSerial);
    if (!restamp_record(bytes, length, serial)) return false;
    if constexpr (Dir::packing) {
        if (!skip_original_pages(ctx, ctx.setup->packing_header_pages)) return fail_stream<Dir>(ctx);
    } else {
        if (!sink_write(ctx.output, bytes, static_cast<size_t>(length))) return false;
    }
    if (ctx.remember_stream && !store_append(*ctx.stream_store, bytes, static_cast<size_t>(length)))
        return false;
    for (uint8_t c : kOggCaptureBytes)
        if (next_replay_byte(ctx) != c) return false;
    return parse_page_header(ctx);
}

template <class Dir> bool comment_header(Dir& data, VorbisContext& ctx) {
    if (!begin_packet<Dir>(ctx)) return false;
    uint32_t previous = 0;
    for (int n; (n = next_lacing<Dir>(ctx)) > 0;)
        for (int i = 0; i < n; ++i)
            previous = static_cast<uint32_t>(code_text_byte(
                data, ctx, kCommentTreeProbs + kCommentTreeStride * static_cast<int>(previous >> 4)));
    return !ctx.inexpressible;
}

// The stored lookup values of a book, each coded as the difference from the middle-out order of
// quantised values (middle, then alternately one below and one above).
template <class Dir>
bool stored_values(Dir& data, VorbisContext& ctx, const Codebook& book, std::vector<int16_t>& out) {
    const uint32_t count = static_cast<uint32_t>(book.lookup_values);
    if (!allocate_table(out, count, int16_t{0})) return false;
    uint32_t d = count / 2;
    for (uint32_t j = 0; j < count; ++j) {
        const int32_t prediction = static_cast<int32_t>(j % 2 == 0 ? d : count - d - 2);
        int32_t value = 0;
        if (ctx.mode == CodingMode::Replay) {
            value = static_cast<int32_t>(read_bits<Dir>(ctx, book.value_bits));
        } else {
            int32_t known = 0;
            uint32_t field = 0;
            if constexpr (Dir::packing) {
                field = take_bits(ctx, book.value_bits);
                known = prediction - static_cast<int32_t>(field);
            }
            const int32_t r = code_unwritten_c4m3(data, ctx, (*ctx.models)[kModelLookupValue], known);
            value = prediction - r;
            if constexpr (!Dir::packing) write_bits(ctx, static_cast<uint32_t>(value), book.value_bits);
        }
        out[j] = static_cast<int16_t>(value);
        if (j % 2 == 1) ++d;
    }
    return !ctx.inexpressible;
}

template <class Dir> bool codebook(Dir& data, VorbisContext& ctx, Codebook& book) {
    ModelArea& models = *ctx.models;
    if (ctx.mode == CodingMode::Replay) {
        if (read_bits<Dir>(ctx, 8) != 0x42 || read_bits<Dir>(ctx, 8) != 0x43 ||
            read_bits<Dir>(ctx, 8) != 0x56)
            return false;
    } else if (!constant_field<Dir>(ctx, 0x564342, 24)) {
        return false;
    }
    book.dimensions = code_value_c4m3s2(data, ctx, models[kModelCodebookDimensions]);
    book.entries = code_count_c5p5(data, ctx, models[kModelCodebookEntries]);
    if (!in_field(book.dimensions, 16) || book.entries <= 0 || book.entries > kMaxEntries)
        return fail_stream<Dir>(ctx);
    const int32_t ordered = code_flag_field(data, ctx, kBookOrderedFlag, 1);
    book.sparse = ordered ? 0 : static_cast<uint8_t>(code_flag_field(data, ctx, kBookSparseFlag, 1));
    std::vector<uint8_t> lengths;
    if (!allocate_table(lengths, static_cast<size_t>(book.entries), kAbsentEntry)) return false;
    int32_t present = 0;
    if (ordered) {
        int32_t length = code_count_c3p3(data, ctx, models[kModelFirstCodewordLength]) + 1;
        for (int32_t entry = 0; entry < book.entries; ++length) {
            // Longer codewords than 32 bits cannot be assigned; refusing them also bounds the loop.
            if (length > kMaxCodewordLength) return fail_stream<Dir>(ctx);
            const int32_t n = code_count_c4p3(data, ctx, ilog(static_cast<uint32_t>(book.entries - entry)),
                                              models[kModelCodewordRun]);
            if (n < 0 || n > book.entries - entry) return fail_stream<Dir>(ctx);
            std::fill(lengths.begin() + entry, lengths.begin() + entry + n, static_cast<uint8_t>(length));
            entry += n;
        }
        present = book.entries;
    } else {
        int context = 2;
        for (int32_t entry = 0; entry < book.entries; ++entry) {
            int32_t flag = 1;
            if (book.sparse) {
                flag = code_flag_field(data, ctx, kBookEntryPresentFlags + context, 1);
                context = flag;
            }
            if (!flag) continue;
            const int32_t length = code_value_c3m3(data, ctx, 5, models[kModelCodewordLength], true, 1) + 1;
            if (length < 1 || length > kMaxCodewordLength) return fail_stream<Dir>(ctx);
            lengths[static_cast<size_t>(entry)] = static_cast<uint8_t>(length);
            ++present;
        }
    }
    if (ctx.inexpressible || !derive_codewords(book, lengths, present)) return fail_stream<Dir>(ctx);

    book.lookup_type = static_cast<uint8_t>(code_tree2_field(data, ctx, kBookLookupTypeTree, 4));
    if (book.lookup_type > 2) return fail_stream<Dir>(ctx);
    if (book.lookup_type == 0) return !ctx.inexpressible;
    book.minimum_value = code_float_field(data, ctx, 0);
    book.delta_value = code_float_field(data, ctx, 1);
    const int64_t lookup_values = book.lookup_type == 1
                                      ? lookup1_values(book.entries, book.dimensions)
                                      : static_cast<int64_t>(book.entries) * book.dimensions;
    if (lookup_values <= 0 || lookup_values > kMaxLookupValues) return fail_stream<Dir>(ctx);
    book.lookup_values = static_cast<int32_t>(lookup_values);
    const int32_t value_bits = code_value_c2m1(data, ctx, models[kModelValueBits], true) + 1;
    if (value_bits < 1 || value_bits > 16) return fail_stream<Dir>(ctx);
    book.value_bits = static_cast<uint8_t>(value_bits);
    book.sequence_p = static_cast<uint8_t>(code_flag_field(data, ctx, kBookSequenceFlag, 1));
    std::vector<int16_t> values;
    if (!stored_values(data, ctx, book, values)) return fail_stream<Dir>(ctx);
    book.model_slot = match_codebook_model(*ctx.slot_table, book);
    if (book.model_slot < 0 || !build_value_table(book, values)) return fail_stream<Dir>(ctx);
    return !ctx.inexpressible;
}

// A floor book is written from per-entry codewords, so it must not be held in sparse form.
bool usable_floor_book(const VorbisSetup& setup, int book) {
    return book >= 0 && book < setup.codebook_count && !setup.codebooks[static_cast<size_t>(book)].sparse;
}

template <class Dir> bool floor1(Dir& data, VorbisContext& ctx, int number, Floor1& floor) {
    VorbisSetup& setup = *ctx.setup;
    ModelArea& models = *ctx.models;
    const int32_t type = code_flag_field(data, ctx, kFloorTypeFlag, 16);
    setup.floor_types[static_cast<size_t>(number)] = static_cast<uint16_t>(type);
    if (type == 0) {
        if constexpr (!Dir::packing) report_event(ctx.events, CodecEvent::FloorType0);
        return fail_stream<Dir>(ctx);
    }
    const int32_t partitions = code_value_c3m3(data, ctx, 5, models[kModelFloorPartitions], false, 1);
    if (!in_field(partitions, 5)) return fail_stream<Dir>(ctx);
    floor.partitions = static_cast<uint8_t>(partitions);
    int largest = -1;
    for (int p = 0; p < partitions; ++p) {
        const int32_t cls = code_value_c2m1(data, ctx, models[kModelPartitionClass], false);
        if (!in_field(cls, 4)) return fail_stream<Dir>(ctx);
        floor.partition_class[static_cast<size_t>(p)] = static_cast<uint8_t>(cls);
        largest = cls > largest ? cls : largest;
    }
    for (int c = 0; c <= largest; ++c) {
        floor.class_dimensions[c] =
            static_cast<uint8_t>(code_tree_field(data, ctx, kFloorClassDimensionsTree, 3) + 1);
        floor.class_subclasses[c] =
            static_cast<uint8_t>(code_tree2_field(data, ctx, kFloorSubclassesTree, 2));
        if (floor.class_subclasses[c] > 0) {
            const int32_t master = code_value_c3m3(data, ctx, 8, models[kModelMasterbook], false, 1);
            if (!in_field(master, 8) || !usable_floor_book(setup, master)) return fail_stream<Dir>(ctx);
            floor.class_masterbook[c] = static_cast<uint8_t>(master);
        }
        for (int t = 0; t < (1 << floor.class_subclasses[c]); ++t) {
            const int32_t coded = code_value_c3m3(data, ctx, 8, models[kModelSubclassBook], true, 1);
            const int32_t book = coded - 1;
            if (!in_field(coded, 8) || (book >= 0 && !usable_floor_book(setup, book)))
                return fail_stream<Dir>(ctx);
            floor.subclass_books[c][t] = static_cast<int16_t>(book);
        }
    }
    floor.multiplier = static_cast<uint8_t>(code_tree2_field(data, ctx, kFloorMultiplierTree, 2) + 1);
    floor.range_bits = static_cast<uint8_t>(code_tree_field(data, ctx, kFloorRangeBitsTree, 4));
    floor.x_list[0] = 0;
    floor.x_list[1] = static_cast<uint16_t>(1u << floor.range_bits);
    floor.values = 2;
    for (int p = 0; p < partitions; ++p) {
        const int dims = floor.class_dimensions[floor.partition_class[static_cast<size_t>(p)]];
        for (int i = 0; i < dims; ++i) {
            const int32_t x = code_value_c4m3(data, ctx, floor.range_bits, models[kModelFloorX]);
            if (!in_field(x, floor.range_bits)) return fail_stream<Dir>(ctx);
            floor.x_list[static_cast<size_t>(floor.values++)] = static_cast<uint16_t>(x);
        }
    }
    derive_floor1_order(floor);
    // Equal X values would leave the coding order of their Y values open; Vorbis I forbids them.
    for (int i = 1; i < floor.values; ++i)
        if (floor.x_list[floor.sorted_order[i]] == floor.x_list[floor.sorted_order[i - 1]])
            return fail_stream<Dir>(ctx);
    if (floor.values > setup.longest_floor_values) setup.longest_floor_values = floor.values;
    return !ctx.inexpressible;
}

// Residue books are written through their value-to-entry table; the two-channel interleaved routine
// writes no codeword for a sequence book.
bool usable_residue_book(const VorbisSetup& setup, int book, int type) {
    if (book < 0 || book >= setup.codebook_count) return false;
    const Codebook& b = setup.codebooks[static_cast<size_t>(book)];
    if (b.dimensions <= 0) return false;
    if (b.lookup_type != 0 && !b.has_entry_table) return false;
    return !(type == 2 && b.sequence_p);
}

template <class Dir> bool residue(Dir& data, VorbisContext& ctx, int number, Residue& res) {
    VorbisSetup& setup = *ctx.setup;
    ModelArea& models = *ctx.models;
    const int32_t type = code_tree2_field(data, ctx, kResidueTypeTree, 16);
    if (type > 2) return fail_stream<Dir>(ctx);
    setup.residue_types[static_cast<size_t>(number)] = static_cast<uint16_t>(type);
    const int32_t begin = code_value_c4m3(data, ctx, 24, models[kModelResidueBegin]);
    const int32_t end = code_value_c4m3(data, ctx, 24, models[kModelResidueEnd]);
    const int32_t size = code_value_c4p0(data, ctx, models[kModelPartitionSize]);
    const int32_t classifications =
        code_value_c3m3(data, ctx, 6, models[kModelClassifications], false, 1) + 1;
    if (!in_field(begin, 24) || !in_field(end, 24) || !in_field(size, 24) || classifications < 1 ||
        classifications > 64)
        return fail_stream<Dir>(ctx);
    // Positions index a fixed area of the residue memory; class values are four bits wide.
    const int32_t end_limit = type == 2 ? kMaxResiduePosition * kMaxChannels : kMaxResiduePosition;
    if (end < begin || end > end_limit || classifications > kMaxResidueClasses) return fail_stream<Dir>(ctx);
    res.begin = static_cast<uint32_t>(begin);
    res.end = static_cast<uint32_t>(end);
    res.partition_size = static_cast<uint32_t>(size) + 1;
    res.classifications = static_cast<uint8_t>(classifications);
    models[kModelResidueBook].last_value = models[kModelSubclassBook].last_value;
    models[kModelResidueBook].last_delta = 0;
    const int32_t classbook = code_value_c3m3(data, ctx, 8, models[kModelResidueBook], true, 2);
    if (!in_field(classbook, 8) || classbook >= setup.codebook_count) return fail_stream<Dir>(ctx);
    res.classbook = static_cast<uint8_t>(classbook);
    const Codebook& cb = setup.codebooks[static_cast<size_t>(classbook)];
    if (cb.sparse) return fail_stream<Dir>(ctx); // class words are written from per-entry codewords
    const uint64_t slots = (res.end - res.begin) / res.partition_size + static_cast<uint32_t>(cb.dimensions);
    if (slots > setup.max_partition_slots) setup.max_partition_slots = static_cast<uint32_t>(slots);

    std::vector<uint32_t> cascade(static_cast<size_t>(classifications));
    for (uint32_t& c : cascade) {
        if (ctx.mode == CodingMode::Replay) {
            const uint32_t low = read_bits<Dir>(ctx, 3);
            const uint32_t high = read_bits<Dir>(ctx, 1) ? read_bits<Dir>(ctx, 5) : 0;
            c = low + 8 * high;
            continue;
        }
        int32_t known = 0;
        if constexpr (Dir::packing) {
            // The value whose pieces the unpacker writes as these fields.
            const uint32_t low = take_bits(ctx, 3);
            const uint32_t flag = take_bits(ctx, 1);
            const uint32_t high = flag ? take_bits(ctx, 5) : 0;
            known = static_cast<int32_t>(low + 8 * (flag && high == 0 ? 32 : high));
        }
        const int32_t v = code_unwritten_c3m1(data, ctx, models[kModelCascade], known);
        if constexpr (!Dir::packing) {
            write_bits(ctx, static_cast<uint32_t>(v) & 7, 3);
            const uint32_t flag = (static_cast<uint32_t>(v) & 0xF8) != 0 ? 1 : 0;
            write_bits(ctx, flag, 1);
            if (flag) write_bits(ctx, static_cast<uint32_t>(v) >> 3, 5);
        }
        c = static_cast<uint32_t>(v) & 0xFF;
    }
    if (!allocate_table(res.books, cascade.size(), std::array<int16_t, kResiduePasses>{})) return false;
    if (!allocate_table(res.class_passes, cascade.size(), uint8_t{0})) return false;
    for (size_t j = 0; j < cascade.size(); ++j)
        for (int k = 0; k < kResiduePasses; ++k) {
            int16_t book = -1;
            if ((cascade[j] >> k) & 1) {
                const int32_t coded = code_value_c3m3(data, ctx, 8, models[kModelResidueBook], true, 2);
                if (!in_field(coded, 8) || !usable_residue_book(setup, coded, type))
                    return fail_stream<Dir>(ctx);
                book = static_cast<int16_t>(coded);
                res.class_passes[j] = static_cast<uint8_t>(res.class_passes[j] | 1u << k);
            }
            res.books[j][static_cast<size_t>(k)] = book;
        }
    if (!build_class_digits(res, cb)) return fail_stream<Dir>(ctx);
    return !ctx.inexpressible;
}

template <class Dir> bool mapping(Dir& data, VorbisContext& ctx, Mapping& map) {
    VorbisSetup& setup = *ctx.setup;
    ModelArea& models = *ctx.models;
    const int channels = setup.channels;
    if (!constant_field<Dir>(ctx, 0, 16)) return false;
    if (!allocate_table(map.channel, static_cast<size_t>(channels), MappingChannel{})) return false;

    int32_t submaps = 1;
    if (ctx.mode == CodingMode::Replay) {
        submaps = read_bits<Dir>(ctx, 1) ? static_cast<int32_t>(read_bits<Dir>(ctx, 4)) + 1 : 1;
    } else {
        int32_t known = 0;
        if constexpr (Dir::packing)
            known = take_bits(ctx, 1) ? static_cast<int32_t>(take_bits(ctx, 4)) + 1 : 0;
        const int32_t v = code_unwritten_c3m1(data, ctx, models[kModelSubmaps], known);
        if (v < 0 || v > kMaxSubmaps) return fail_stream<Dir>(ctx);
        if constexpr (!Dir::packing) {
            write_bits(ctx, v > 0 ? 1 : 0, 1);
            if (v > 0) write_bits(ctx, static_cast<uint32_t>(v - 1), 4);
        }
        submaps = v > 0 ? v : 1;
    }
    map.submaps = static_cast<uint8_t>(submaps);

    int32_t steps = 0;
    if (ctx.mode == CodingMode::Replay) {
        steps = read_bits<Dir>(ctx, 1) ? static_cast<int32_t>(read_bits<Dir>(ctx, 8)) + 1 : 0;
    } else {
        int32_t known = 0;
        if constexpr (Dir::packing)
            known = take_bits(ctx, 1) ? static_cast<int32_t>(take_bits(ctx, 8)) + 1 : 0;
        steps = code_unwritten_c3m1(data, ctx, models[kModelCouplingSteps], known);
        if (steps < 0 || steps > 256) return fail_stream<Dir>(ctx);
        if constexpr (!Dir::packing) {
            write_bits(ctx, steps > 0 ? 1 : 0, 1);
            if (steps > 0) write_bits(ctx, static_cast<uint32_t>(steps - 1), 8);
        }
    }
    // Coupling steps are held one per channel record.
    if (steps > channels) return fail_stream<Dir>(ctx);
    map.coupling_steps = static_cast<uint16_t>(steps);
    const int width = ilog(static_cast<uint32_t>(channels - 1));
    for (int k = 0; k < steps; ++k) {
        const int32_t magnitude = code_value_c2m0(data, ctx, width, models[kModelCouplingChannel]);
        const int32_t angle = code_value_c2m0(data, ctx, width, models[kModelCouplingChannel]);
        if (magnitude < 0 || angle < 0 || magnitude >= channels || angle >= channels || magnitude == angle)
            return fail_stream<Dir>(ctx);
        map.channel[static_cast<size_t>(k)].magnitude = static_cast<uint8_t>(magnitude);
        map.channel[static_cast<size_t>(k)].angle = static_cast<uint8_t>(angle);
    }
    if (!constant_field<Dir>(ctx, 0, 2)) return false;
    if (submaps > 1)
        for (int c = 0; c < channels; ++c) {
            const int32_t mux = code_value_c2m1(data, ctx, models[kModelChannelMux], false);
            if (mux < 0 || mux >= submaps) return fail_stream<Dir>(ctx);
            map.channel[static_cast<size_t>(c)].mux = static_cast<uint8_t>(mux);
        }
    for (int s = 0; s < submaps; ++s) {
        code_value_c3m1(data, ctx, 8, models[kModelSubmapTime]);
        const int32_t floor = code_value_c3m1(data, ctx, 8, models[kModelSubmapFloor]);
        const int32_t res = code_value_c3m1(data, ctx, 8, models[kModelSubmapResidue]);
        if (floor < 0 || floor >= setup.floor_count || res < 0 || res >= setup.residue_count)
            return fail_stream<Dir>(ctx);
        map.submap_floor[static_cast<size_t>(s)] = static_cast<uint8_t>(floor);
        map.submap_residue[static_cast<size_t>(s)] = static_cast<uint8_t>(res);
    }
    return !ctx.inexpressible;
}

template <class Dir> bool setup_header(Dir& data, VorbisContext& ctx) {
    VorbisSetup& setup = *ctx.setup;
    ModelArea& models = *ctx.models;
    if (!begin_packet<Dir>(ctx)) return false;
    if (ctx.mode == CodingMode::Replay) {
        if (read_bits<Dir>(ctx, 8) != 5) return false;
        for (const char* p = "vorbis"; *p; ++p)
            if (read_bits<Dir>(ctx, 8) != static_cast<uint8_t>(*p)) return false;
    } else {
        if constexpr (!Dir::packing) *ctx.out_cursor = 0;
        if (!constant_field<Dir>(ctx, 5, 8) || !constant_field<Dir>(ctx, 0x62726F76, 32) ||
            !constant_field<Dir>(ctx, 0x7369, 16))
            return false;
    }

    const int32_t books = code_value_c3m3(data, ctx, 8, models[kModelCodebookCount], true, 1) + 1;
    if (books < 1 || books > kMaxCodebooks) return fail_stream<Dir>(ctx);
    setup.codebook_count = books;
    if (!allocate_table(setup.codebooks, static_cast<size_t>(books), Codebook{})) return false;
    for (Codebook& book : setup.codebooks)
        if (!codebook(data, ctx, book)) return false;

    const int32_t times = code_value_c3m1(data, ctx, 6, models[kModelTimeCount]) + 1;
    if (times < 1 || times > kMaxSetupItems) return fail_stream<Dir>(ctx);
    for (int i = 0; i < times; ++i)
        if (!constant_field<Dir>(ctx, 0, 16)) return false;

    const int32_t floors = code_value_c3m3(data, ctx, 6, models[kModelFloorCount], false, 1) + 1;
    // The floor class memory holds four floors.
    if (floors < 1 || floors > kFloorClassMemoryFloors) return fail_stream<Dir>(ctx);
    setup.floor_count = floors;
    if (!allocate_table(setup.floors, static_cast<size_t>(floors), Floor1{})) return false;
    for (int f = 0; f < floors; ++f)
        if (!floor1(data, ctx, f, setup.floors[static_cast<size_t>(f)])) return false;

    const int32_t residues = code_value_c3m1(data, ctx, 6, models[kModelResidueCount]) + 1;
    if (residues < 1 || residues > kMaxSetupItems) return fail_stream<Dir>(ctx);
    setup.residue_count = residues;
    if (!allocate_table(setup.residues, static_cast<size_t>(residues), Residue{})) return false;
    for (int r = 0; r < residues; ++r)
        if (!residue(data, ctx, r, setup.residues[static_cast<size_t>(r)])) return false;
    if (!allocate_table(setup.partition_scratch,
                        static_cast<size_t>(setup.channels) * setup.max_partition_slots, int32_t{0}))
        return false;

    const int32_t mappings = code_value_c3m1(data, ctx, 6, models[kModelMappingCount]) + 1;
    if (mappings < 1 || mappings > kMaxSetupItems) return fail_stream<Dir>(ctx);
    setup.mapping_count = mappings;
    if (!allocate_table(setup.mappings, static_cast<size_t>(mappings), Mapping{})) return false;
    for (Mapping& map : setup.mappings)
        if (!mapping(data, ctx, map)) return false;

    const int32_t modes = code_value_c3m1(data, ctx, 6, models[kModelModeCount]) + 1;
    if (modes < 1 || modes > kMaxSetupItems) return fail_stream<Dir>(ctx);
    setup.mode_count = static_cast<uint8_t>(modes);
    setup.mode_bits = static_cast<uint8_t>(ilog(static_cast<uint32_t>(modes - 1)));
    for (int m = 0; m < modes; ++m) {
        Mode& mode = setup.modes[static_cast<size_t>(m)];
        mode.blockflag = static_cast<uint8_t>(code_flag_field(data, ctx, kModeBlockflagFlag, 1));
        if (!constant_field<Dir>(ctx, 0, 16) || !constant_field<Dir>(ctx, 0, 16)) return false;
        const int32_t map = code_value_c3m1(data, ctx, 8, models[kModelModeMapping]);
        if (map < 0 || map >= mappings) return fail_stream<Dir>(ctx);
        mode.mapping = static_cast<uint8_t>(map);
    }
    if (!constant_field<Dir>(ctx, 1, 1)) return false;
    if (ctx.inexpressible) return false;

    if (!allocate_table(setup.packet_scratch, kPacketScratchBytes, uint8_t{0})) return false;
    if (!finish_packet(data, ctx)) return false;
    for (int c = 0; c < setup.channels; ++c)
        if (!allocate_table(setup.channel_spectrum[static_cast<size_t>(c)],
                            static_cast<size_t>(setup.pending_blocksize[1]), 0u) ||
            !allocate_table(setup.channel_floor_y[static_cast<size_t>(c)],
                            static_cast<size_t>(setup.longest_floor_values), int16_t{0}))
            return false;
    setup.blocksize = setup.pending_blocksize;
    return !ctx.inexpressible;
}

// Packing: the number of original pages, from the next one, that hold the comment and setup packets
// and nothing else; 0 when the setup packet does not end its page.
int32_t header_page_count(const VorbisContext& ctx) {
    int packets = 0;
    for (int32_t i = ctx.original_page_next; i < ctx.original_page_count; ++i) {
        const uint8_t* page = ctx.original_pages[i].data;
        const int segments = page[kOggSegmentCount];
        for (int j = 0; j < segments; ++j)
            if (page[kOggHeaderSize + static_cast<size_t>(j)] < kLacingContinues && ++packets == 2)
                return j == segments - 1 ? i - ctx.original_page_next + 1 : 0;
    }
    return 0;
}

// Packing: whether an earlier stream's captured header pages equal this stream's (but for the serial
// number and CRC); if so the header set is copied from the store instead of coded.
void find_header_copy(VorbisContext& ctx) {
    VorbisSetup& setup = *ctx.setup;
    setup.packing_header_pages = 0;
    const int32_t pages = header_page_count(ctx);
    if (pages == 0 || ctx.header_store->record_count == 0) return;
    std::vector<uint8_t> bytes;
    for (int32_t i = 0; i < pages; ++i) {
        const OggPage& page = ctx.original_pages[ctx.original_page_next + i];
        bytes.insert(bytes.end(), page.data, page.data + page.size);
    }
    const int32_t k = store_find_match(*ctx.header_store, bytes.data(), bytes.size());
    if (k < 0) return;
    setup.packing_header_record = static_cast<uint32_t>(k);
    setup.packing_header_pages = pages;
}

} // namespace

template <class Dir> bool code_vorbis_headers(Dir& data, Dir& control, VorbisContext& ctx) {
    if (!identification_header(data, ctx)) return false;
    uint16_t* const decisions = ctx.control_probs;
    int copy = 0;
    if constexpr (Dir::packing) {
        find_header_copy(ctx);
        copy = ctx.setup->packing_header_pages > 0 ? 1 : 0;
    }
    copy = control.bit(decisions[kControlHeaderCopyProb], copy);
    ctx.headers_copied = static_cast<uint8_t>(copy);
    if (copy) {
        if (!copy_header_set(control, ctx)) return false;
    } else {
        if (!open_page<Dir>(ctx, 0)) return false;
        // The packer captures where a later stream copies this header set.
        int capture = 0;
        if constexpr (Dir::packing) capture = ctx.setup->packing_capture ? 1 : 0;
        ctx.capture_headers =
            static_cast<uint8_t>(control.bit(decisions[kControlHeaderCaptureProb], capture));
        ctx.capture_offset = store_size(*ctx.header_store);
    }
    return comment_header(data, ctx) && setup_header(data, ctx);
}

template bool code_vorbis_headers<Unpacking>(Unpacking&, Unpacking&, VorbisContext&);
template bool code_vorbis_headers<Packing>(Packing&, Packing&, VorbisContext&);
