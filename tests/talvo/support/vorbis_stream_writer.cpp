#include "vorbis_stream_writer.h"

#include "vorbis/codebook_tables.h"

#include <cstring>
#include <string>

#ifdef TALVO_TESTS_HAVE_LIBOGG
#include <ogg/ogg.h>
#endif

namespace vorbis_writer {
namespace {

struct BitWriter {
    std::vector<uint8_t> bytes;
    long bits = 0;
    void put(uint32_t value, int n) {
        for (int i = 0; i < n; ++i, ++bits) {
            if (bits % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() = static_cast<uint8_t>(bytes.back() | (1 << (bits % 8)));
        }
    }
};

int ilog_of(uint32_t v) {
    int n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

struct Rng {
    uint32_t state;
    uint32_t next(uint32_t bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    }
};

std::vector<uint8_t> full_lengths(const std::vector<uint8_t>& lengths) {
    std::vector<uint8_t> out(lengths);
    for (uint8_t& l : out)
        if (l == 0) l = kAbsentEntry;
    return out;
}

// Codewords (emission order) and lengths per entry, by the Vorbis I assignment.
struct Codes {
    std::vector<uint32_t> word;
    std::vector<uint8_t> length;
};

Codes codes_of(const Book& b) {
    Codebook book;
    book.entries = b.entries;
    std::vector<uint8_t> lengths = full_lengths(b.lengths);
    book.codewords.assign(static_cast<size_t>(b.entries), 0);
    assign_codewords(book, lengths.data(), b.entries, nullptr);
    return {book.codewords, lengths};
}

void put_codeword(BitWriter& w, const Codes& c, int entry) {
    w.put(c.word[static_cast<size_t>(entry)], c.length[static_cast<size_t>(entry)]);
}

int random_present(Rng& rng, const Codes& c, int below) {
    for (;;) {
        const int e = static_cast<int>(rng.next(static_cast<uint32_t>(below)));
        if (c.length[static_cast<size_t>(e)] != kAbsentEntry) return e;
    }
}

void put_book(BitWriter& w, const Book& b) {
    w.put(0x564342, 24);
    w.put(static_cast<uint32_t>(b.dimensions), 16);
    w.put(static_cast<uint32_t>(b.entries), 24);
    w.put(b.ordered ? 1 : 0, 1);
    if (b.ordered) {
        int length = b.lengths.empty() ? 1 : b.lengths[0];
        w.put(static_cast<uint32_t>(length - 1), 5);
        for (int e = 0; e < b.entries; ++length) {
            int n = 0;
            while (e + n < b.entries && b.lengths[static_cast<size_t>(e + n)] == length)
                ++n;
            w.put(static_cast<uint32_t>(n), ilog_of(static_cast<uint32_t>(b.entries - e)));
            e += n;
        }
    } else {
        w.put(b.sparse ? 1 : 0, 1);
        for (int e = 0; e < b.entries; ++e) {
            const uint8_t l = b.lengths[static_cast<size_t>(e)];
            if (b.sparse) w.put(l ? 1 : 0, 1);
            if (l) w.put(l - 1u, 5);
        }
    }
    w.put(static_cast<uint32_t>(b.lookup_type), 4);
    if (b.lookup_type) {
        w.put((768u << 21) | (1u << 20), 32); // 1.0
        w.put((768u << 21) | (1u << 20), 32);
        w.put(static_cast<uint32_t>(b.value_bits - 1), 4);
        w.put(b.sequence_p ? 1 : 0, 1);
        for (int v : b.values)
            w.put(static_cast<uint32_t>(v), b.value_bits);
    }
}

// Residue of one submap, in Vorbis I order; every partition's class and vector entries drawn at random.
void put_residue(BitWriter& w, const Stream& s, const std::vector<Codes>& codes, const Residue& r,
                 const std::vector<bool>& coded, int n, Rng& rng) {
    int ch = static_cast<int>(coded.size());
    std::vector<bool> decode = coded;
    long actual = n;
    if (r.type == 2) {
        bool any = false;
        for (bool c : coded)
            any = any || c;
        if (!any) return;
        actual = static_cast<long>(n) * ch;
        ch = 1;
        decode.assign(1, true);
    }
    const long end = std::min<long>(r.end, actual), begin = std::min<long>(r.begin, actual);
    const int classwords = s.books[static_cast<size_t>(r.classbook)].dimensions;
    const long partitions = (end - begin) / static_cast<long>(r.partition_size);
    std::vector<std::vector<int>> classes(static_cast<size_t>(ch),
                                          std::vector<int>(static_cast<size_t>(partitions + classwords)));
    for (int pass = 0; pass < 8; ++pass)
        for (long p = 0; p < partitions; p += classwords) {
            if (pass == 0)
                for (int c = 0; c < ch; ++c) {
                    if (!decode[static_cast<size_t>(c)]) continue;
                    int word = 0;
                    for (int i = 0; i < classwords; ++i) {
                        const int cls = static_cast<int>(rng.next(static_cast<uint32_t>(r.classifications)));
                        classes[static_cast<size_t>(c)][static_cast<size_t>(p + i)] = cls;
                        word = word * r.classifications + cls;
                    }
                    put_codeword(w, codes[static_cast<size_t>(r.classbook)], word);
                }
            for (long i = p; i < p + classwords && i < partitions; ++i)
                for (int c = 0; c < ch; ++c) {
                    if (!decode[static_cast<size_t>(c)]) continue;
                    const int book =
                        r.books[static_cast<size_t>(classes[static_cast<size_t>(c)][static_cast<size_t>(i)])]
                               [static_cast<size_t>(pass)];
                    if (book < 0) continue;
                    const Book& b = s.books[static_cast<size_t>(book)];
                    const long reads = static_cast<long>(r.partition_size) / b.dimensions;
                    for (long k = 0; k < reads; ++k)
                        put_codeword(w, codes[static_cast<size_t>(book)],
                                     random_present(rng, codes[static_cast<size_t>(book)], b.entries));
                }
        }
}

} // namespace

Stream small_stream(int channels, int multiplier, int residue_type) {
    Stream s;
    s.channels = channels;
    Book y; // floor Y values: 128 entries of length 7
    y.entries = 128;
    y.lengths.assign(128, 7);
    Book classes; // residue class words: 2 classifications x 2 dimensions
    classes.dimensions = 2;
    classes.entries = 4;
    classes.lengths.assign(4, 2);
    Book vq; // residue vectors: values -1, 0, 1 in two dimensions
    vq.dimensions = 2;
    vq.entries = 9;
    vq.lengths = {1, 4, 4, 4, 4, 4, 4, 4, 4};
    vq.lookup_type = 1;
    vq.values = {0, 1, 2};
    vq.value_bits = 2;
    s.books = {y, classes, vq};
    Floor f;
    f.partition_class = {0, 0};
    f.classes = {FloorClass{2, 0, 0, {0}}};
    f.multiplier = multiplier;
    f.range_bits = 7;
    f.x = {32, 64, 16, 96};
    s.floors = {f};
    Residue r;
    r.type = residue_type;
    r.classbook = 1;
    r.books = {{-1, -1, -1, -1, -1, -1, -1, -1}, {2, -1, -1, -1, -1, -1, -1, -1}};
    if (residue_type == 0)
        r.end = 16; // one partition: the codec codes no values past the first partition size
    s.residues = {r};
    s.mappings = {Mapping{}};
    if (channels == 2) s.mappings[0].coupling = {{0, 1}}; // as encoders couple stereo
    s.modes = {Mode{0, 0}, Mode{1, 0}};
    return s;
}

std::vector<uint8_t> identification_packet(const Stream& s) {
    std::vector<uint8_t> p = {1, 'v', 'o', 'r', 'b', 'i', 's', 0, 0, 0, 0};
    p.push_back(static_cast<uint8_t>(s.channels));
    const uint32_t words[4] = {44100, 0, 128000, 0};
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            p.push_back(static_cast<uint8_t>(w >> (8 * i)));
    p.push_back(static_cast<uint8_t>(s.exponent0 | (s.exponent1 << 4)));
    p.push_back(1);
    return p;
}

std::vector<uint8_t> comment_packet() {
    BitWriter w;
    for (char c : std::string("\x03vorbis"))
        w.put(static_cast<uint8_t>(c), 8);
    const char* vendor = "talvo test writer";
    w.put(static_cast<uint32_t>(std::strlen(vendor)), 32);
    for (const char* c = vendor; *c; ++c)
        w.put(static_cast<uint8_t>(*c), 8);
    w.put(0, 32);
    w.put(1, 1);
    return w.bytes;
}

std::vector<uint8_t> setup_packet(const Stream& s) {
    BitWriter w;
    w.put(5, 8);
    for (const char* c = "vorbis"; *c; ++c)
        w.put(static_cast<uint8_t>(*c), 8);
    w.put(static_cast<uint32_t>(s.books.size() - 1), 8);
    for (const Book& b : s.books)
        put_book(w, b);
    w.put(0, 6);
    w.put(0, 16);
    w.put(static_cast<uint32_t>(s.floors.size() - 1), 6);
    for (const Floor& f : s.floors) {
        w.put(static_cast<uint32_t>(f.type), 16);
        w.put(static_cast<uint32_t>(f.partition_class.size()), 5);
        for (int c : f.partition_class)
            w.put(static_cast<uint32_t>(c), 4);
        for (const FloorClass& c : f.classes) {
            w.put(static_cast<uint32_t>(c.dimensions - 1), 3);
            w.put(static_cast<uint32_t>(c.subclasses), 2);
            if (c.subclasses) w.put(static_cast<uint32_t>(c.masterbook), 8);
            for (int b : c.books)
                w.put(static_cast<uint32_t>(b + 1), 8);
        }
        w.put(static_cast<uint32_t>(f.multiplier - 1), 2);
        w.put(static_cast<uint32_t>(f.range_bits), 4);
        for (int x : f.x)
            w.put(static_cast<uint32_t>(x), f.range_bits);
    }
    w.put(static_cast<uint32_t>(s.residues.size() - 1), 6);
    for (const Residue& r : s.residues) {
        w.put(static_cast<uint32_t>(r.type), 16);
        w.put(r.begin, 24);
        w.put(r.end, 24);
        w.put(r.partition_size - 1, 24);
        w.put(static_cast<uint32_t>(r.classifications - 1), 6);
        w.put(static_cast<uint32_t>(r.classbook), 8);
        std::vector<int> cascade;
        for (const auto& books : r.books) {
            int c = 0;
            for (int k = 0; k < 8; ++k)
                c |= (books[static_cast<size_t>(k)] >= 0 ? 1 : 0) << k;
            cascade.push_back(c);
            w.put(static_cast<uint32_t>(c & 7), 3);
            w.put(c > 7 ? 1 : 0, 1);
            if (c > 7) w.put(static_cast<uint32_t>(c >> 3), 5);
        }
        for (const auto& books : r.books)
            for (int b : books)
                if (b >= 0) w.put(static_cast<uint32_t>(b), 8);
    }
    w.put(static_cast<uint32_t>(s.mappings.size() - 1), 6);
    for (const Mapping& m : s.mappings) {
        w.put(0, 16);
        w.put(m.submaps > 1 ? 1 : 0, 1);
        if (m.submaps > 1) w.put(static_cast<uint32_t>(m.submaps - 1), 4);
        w.put(m.coupling.empty() ? 0 : 1, 1);
        if (!m.coupling.empty()) {
            w.put(static_cast<uint32_t>(m.coupling.size() - 1), 8);
            const int width = ilog_of(static_cast<uint32_t>(s.channels - 1));
            for (auto [mag, ang] : m.coupling) {
                w.put(static_cast<uint32_t>(mag), width);
                w.put(static_cast<uint32_t>(ang), width);
            }
        }
        w.put(0, 2);
        if (m.submaps > 1)
            for (int c = 0; c < s.channels; ++c)
                w.put(static_cast<uint32_t>(m.mux[static_cast<size_t>(c)]), 4);
        for (int i = 0; i < m.submaps; ++i) {
            w.put(0, 8);
            w.put(static_cast<uint32_t>(m.floor[static_cast<size_t>(i)]), 8);
            w.put(static_cast<uint32_t>(m.residue[static_cast<size_t>(i)]), 8);
        }
    }
    w.put(static_cast<uint32_t>(s.modes.size() - 1), 6);
    for (const Mode& m : s.modes) {
        w.put(static_cast<uint32_t>(m.blockflag), 1);
        w.put(0, 16);
        w.put(0, 16);
        w.put(static_cast<uint32_t>(m.mapping), 8);
    }
    w.put(1, 1);
    w.bytes.resize(w.bytes.size() + s.setup_tail, 0);
    return w.bytes;
}

std::vector<uint8_t> audio_packet(const Stream& s, uint32_t seed) {
    Rng rng{seed * 2654435761u + 1};
    std::vector<Codes> codes;
    for (const Book& b : s.books)
        codes.push_back(codes_of(b));
    BitWriter w;
    w.put(0, 1);
    const int mode_number = static_cast<int>(rng.next(static_cast<uint32_t>(s.modes.size())));
    w.put(static_cast<uint32_t>(mode_number), ilog_of(static_cast<uint32_t>(s.modes.size() - 1)));
    const Mode& mode = s.modes[static_cast<size_t>(mode_number)];
    if (mode.blockflag) w.put(rng.next(4), 2);
    const int n = (1 << (mode.blockflag ? s.exponent1 : s.exponent0)) / 2;
    const Mapping& map = s.mappings[static_cast<size_t>(mode.mapping)];
    std::vector<bool> nonzero(static_cast<size_t>(s.channels));
    static const int ranges[4] = {256, 128, 86, 64};
    for (int c = 0; c < s.channels; ++c) {
        const int mux = map.mux.empty() ? 0 : map.mux[static_cast<size_t>(c)];
        const Floor& f = s.floors[static_cast<size_t>(map.floor[static_cast<size_t>(mux)])];
        nonzero[static_cast<size_t>(c)] = rng.next(5) != 0;
        w.put(nonzero[static_cast<size_t>(c)] ? 1 : 0, 1);
        if (!nonzero[static_cast<size_t>(c)]) continue;
        const int range = ranges[f.multiplier - 1];
        const int bits = ilog_of(static_cast<uint32_t>(range - 1));
        // Ends near the top of the range, so that every one of their bits matters.
        w.put(static_cast<uint32_t>(range - 1 - static_cast<int>(rng.next(4))), bits);
        w.put(rng.next(static_cast<uint32_t>(range)), bits);
        for (int cls : f.partition_class) {
            const FloorClass& fc = f.classes[static_cast<size_t>(cls)];
            std::vector<int> choice(static_cast<size_t>(fc.dimensions));
            std::vector<int> value(static_cast<size_t>(fc.dimensions));
            int cval = 0;
            for (int e = 0; e < fc.dimensions; ++e) {
                choice[static_cast<size_t>(e)] = static_cast<int>(rng.next(1u << fc.subclasses));
                const int book = fc.books[static_cast<size_t>(choice[static_cast<size_t>(e)])];
                value[static_cast<size_t>(e)] =
                    book >= 0 ? random_present(rng, codes[static_cast<size_t>(book)],
                                               s.books[static_cast<size_t>(book)].entries)
                              : 0;
                cval |= choice[static_cast<size_t>(e)] << (e * fc.subclasses);
            }
            if (fc.subclasses) put_codeword(w, codes[static_cast<size_t>(fc.masterbook)], cval);
            for (int e = 0; e < fc.dimensions; ++e) {
                const int book = fc.books[static_cast<size_t>(choice[static_cast<size_t>(e)])];
                if (book >= 0)
                    put_codeword(w, codes[static_cast<size_t>(book)], value[static_cast<size_t>(e)]);
            }
        }
    }
    for (auto [mag, ang] : map.coupling)
        if (nonzero[static_cast<size_t>(mag)] || nonzero[static_cast<size_t>(ang)])
            nonzero[static_cast<size_t>(mag)] = nonzero[static_cast<size_t>(ang)] = true;
    for (int sub = 0; sub < map.submaps; ++sub) {
        std::vector<bool> coded;
        for (int c = 0; c < s.channels; ++c)
            if ((map.mux.empty() ? 0 : map.mux[static_cast<size_t>(c)]) == sub)
                coded.push_back(nonzero[static_cast<size_t>(c)]);
        put_residue(w, s, codes, s.residues[static_cast<size_t>(map.residue[static_cast<size_t>(sub)])],
                    coded, n, rng);
    }
    if (w.bytes.empty()) w.bytes.push_back(0);
    return w.bytes;
}

std::vector<uint8_t> ogg_file(const Stream& s, int packets, uint32_t seed) {
    std::vector<std::vector<uint8_t>> audio;
    for (int i = 0; i < packets; ++i)
        audio.push_back(audio_packet(s, seed + static_cast<uint32_t>(i)));
    return ogg_file(s, audio);
}

std::vector<uint8_t> ogg_file(const Stream& s, const std::vector<std::vector<uint8_t>>& audio) {
    std::vector<uint8_t> out;
    const int packets = static_cast<int>(audio.size());
#ifdef TALVO_TESTS_HAVE_LIBOGG
    ogg_stream_state os;
    ogg_stream_init(&os, 0x1234567);
    auto emit = [&](bool flush) {
        ogg_page page;
        while (flush ? ogg_stream_flush(&os, &page) : ogg_stream_pageout(&os, &page)) {
            out.insert(out.end(), page.header, page.header + page.header_len);
            out.insert(out.end(), page.body, page.body + page.body_len);
        }
    };
    auto put = [&](std::vector<uint8_t> bytes, int64_t granule, bool bos, bool eos, int64_t number) {
        ogg_packet p{};
        p.packet = bytes.data();
        p.bytes = static_cast<long>(bytes.size());
        p.b_o_s = bos;
        p.e_o_s = eos;
        p.granulepos = granule;
        p.packetno = number;
        ogg_stream_packetin(&os, &p);
    };
    put(identification_packet(s), 0, true, false, 0);
    emit(true);
    put(comment_packet(), 0, false, false, 1);
    put(setup_packet(s), 0, false, false, 2);
    emit(true);
    for (int i = 0; i < packets; ++i) {
        put(audio[static_cast<size_t>(i)], 128 * (i + 1), false, i == packets - 1, 3 + i);
        emit(false);
    }
    emit(true);
    ogg_stream_clear(&os);
#else
    (void)s;
    (void)packets;
#endif
    return out;
}

} // namespace vorbis_writer
