#include "vorbis_reference.h"

#include <algorithm>
#include <cstring>

#ifdef TALVO_TESTS_HAVE_LIBOGG
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#endif

namespace vorbis_reference {
namespace {

int bit_count(uint32_t v) {
    int n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

// LSB-first reader; reading past the end sets `ended` and yields zero bits.
struct Bits {
    const uint8_t* data;
    long total;
    long pos = 0;
    bool ended = false;
    Bits(const std::vector<uint8_t>& bytes)
        : data(bytes.data()), total(static_cast<long>(bytes.size()) * 8) {}
    uint32_t read(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (pos >= total) {
                ended = true;
                return 0;
            }
            v |= static_cast<uint32_t>((data[pos >> 3] >> (pos & 7)) & 1) << i;
            ++pos;
        }
        return v;
    }
};

// Largest r with r^dimensions <= entries, by integer arithmetic.
int exact_lookup1_values(int entries, int dimensions) {
    int r = 0;
    for (;;) {
        long double p = 1;
        for (int i = 0; i < dimensions; ++i)
            p *= (r + 1);
        if (p > entries) return r;
        ++r;
    }
}

bool parse_book(Bits& b, Book& book) {
    if (b.read(24) != 0x564342) return false;
    book.dimensions = static_cast<int>(b.read(16));
    book.entries = static_cast<int>(b.read(24));
    book.ordered = b.read(1);
    book.lengths.assign(book.entries, 255);
    if (!book.ordered) {
        book.sparse_coded = b.read(1);
        for (int e = 0; e < book.entries; ++e) {
            if (book.sparse_coded && !b.read(1)) continue;
            book.lengths[e] = static_cast<uint8_t>(b.read(5) + 1);
            ++book.present;
        }
    } else {
        int length = static_cast<int>(b.read(5)) + 1;
        for (int e = 0; e < book.entries; ++length) {
            const int n = static_cast<int>(b.read(bit_count(static_cast<uint32_t>(book.entries - e))));
            if (e + n > book.entries || length > 32) return false;
            std::fill(book.lengths.begin() + e, book.lengths.begin() + e + n, static_cast<uint8_t>(length));
            e += n;
        }
        book.present = book.entries;
    }
    book.lookup_type = static_cast<int>(b.read(4));
    if (book.lookup_type > 2) return false;
    if (book.lookup_type) {
        b.read(32);
        b.read(32);
        book.value_bits = static_cast<int>(b.read(4)) + 1;
        b.read(1);
        book.lookup_values = book.lookup_type == 1 ? exact_lookup1_values(book.entries, book.dimensions)
                                                   : book.entries * book.dimensions;
        for (int i = 0; i < book.lookup_values; ++i)
            book.values.push_back(static_cast<int>(b.read(book.value_bits)));
    }
    return !b.ended;
}

bool parse_floor(Bits& b, Floor& f, int books) {
    f.partitions = static_cast<int>(b.read(5));
    int largest = -1;
    for (int i = 0; i < f.partitions; ++i) {
        f.partition_class.push_back(static_cast<int>(b.read(4)));
        largest = std::max(largest, f.partition_class.back());
    }
    for (int c = 0; c <= largest; ++c) {
        f.class_dimensions[c] = static_cast<int>(b.read(3)) + 1;
        f.class_subclasses[c] = static_cast<int>(b.read(2));
        if (f.class_subclasses[c]) f.class_masterbook[c] = static_cast<int>(b.read(8));
        for (int s = 0; s < (1 << f.class_subclasses[c]); ++s)
            f.subclass_books[c][s] = static_cast<int>(b.read(8)) - 1;
        if (f.class_masterbook[c] >= books) return false;
    }
    f.multiplier = static_cast<int>(b.read(2)) + 1;
    f.range_bits = static_cast<int>(b.read(4));
    f.x_list = {0, 1 << f.range_bits};
    for (int i = 0; i < f.partitions; ++i)
        for (int d = 0; d < f.class_dimensions[f.partition_class[i]]; ++d)
            f.x_list.push_back(static_cast<int>(b.read(f.range_bits)));
    return true;
}

bool parse_residue(Bits& b, Residue& r) {
    r.begin = b.read(24);
    r.end = b.read(24);
    r.partition_size = b.read(24) + 1;
    r.classifications = static_cast<int>(b.read(6)) + 1;
    r.classbook = static_cast<int>(b.read(8));
    std::vector<int> cascade;
    for (int j = 0; j < r.classifications; ++j) {
        int v = static_cast<int>(b.read(3));
        if (b.read(1)) v += 8 * static_cast<int>(b.read(5));
        cascade.push_back(v);
    }
    for (int j = 0; j < r.classifications; ++j) {
        std::array<int, 8> books{};
        for (int k = 0; k < 8; ++k)
            books[k] = (cascade[j] >> k) & 1 ? static_cast<int>(b.read(8)) : -1;
        r.books.push_back(books);
    }
    return true;
}

bool parse_mapping(Bits& b, Mapping& m, int channels) {
    if (b.read(16) != 0) return false;
    m.submaps = b.read(1) ? static_cast<int>(b.read(4)) + 1 : 1;
    if (b.read(1)) {
        const int steps = static_cast<int>(b.read(8)) + 1;
        const int w = bit_count(static_cast<uint32_t>(channels - 1));
        for (int k = 0; k < steps; ++k) {
            const int mag = static_cast<int>(b.read(w));
            m.coupling.push_back({mag, static_cast<int>(b.read(w))});
        }
    }
    if (b.read(2) != 0) return false;
    m.mux.assign(channels, 0);
    if (m.submaps > 1)
        for (int c = 0; c < channels; ++c)
            m.mux[c] = static_cast<int>(b.read(4));
    for (int s = 0; s < m.submaps; ++s) {
        b.read(8);
        m.floor[s] = static_cast<int>(b.read(8));
        m.residue[s] = static_cast<int>(b.read(8));
    }
    return true;
}

// Reads one codeword: -1 for a codeword not in the table, -2 when the packet ends inside it.
int read_codeword(Bits& b, const CodewordTable& table, Walk& walk) {
    uint32_t code = 0;
    for (int length = 1; length <= 32; ++length) {
        code |= b.read(1) << (length - 1);
        if (b.ended) return -2;
        auto it = table.find(codeword_key(length, code));
        if (it != table.end()) {
            ++walk.codewords;
            return it->second;
        }
    }
    walk.valid = false;
    return -1;
}

// Decodes the residue of one submap; false once the packet has ended or a codeword is invalid.
bool walk_residue(Bits& b, const StreamSetup& s, const std::vector<CodewordTable>& tables, const Residue& r,
                  std::vector<bool> do_not_decode, int n, Walk& walk) {
    int ch = static_cast<int>(do_not_decode.size());
    long actual = n;
    if (r.type == 2) {
        const bool any = std::find(do_not_decode.begin(), do_not_decode.end(), false) != do_not_decode.end();
        if (!any) return true;
        actual = static_cast<long>(n) * ch;
        ch = 1;
        do_not_decode.assign(1, false);
    }
    const long limit_begin = std::min<long>(r.begin, actual);
    const long limit_end = std::min<long>(r.end, actual);
    const int classwords = s.books[r.classbook].dimensions;
    if (limit_end <= limit_begin) return true;
    const long partitions = (limit_end - limit_begin) / static_cast<long>(r.partition_size);
    std::vector<std::vector<int>> classes(ch, std::vector<int>(partitions + classwords, 0));
    for (int pass = 0; pass < 8; ++pass) {
        long count = 0;
        while (count < partitions) {
            if (pass == 0) {
                for (int j = 0; j < ch; ++j) {
                    if (do_not_decode[j]) continue;
                    int temp = read_codeword(b, tables[r.classbook], walk);
                    if (temp < 0) return false;
                    for (int i = classwords - 1; i >= 0; --i) {
                        classes[j][i + count] = temp % r.classifications;
                        temp /= r.classifications;
                    }
                }
            }
            for (int i = 0; i < classwords && count < partitions; ++i, ++count) {
                for (int j = 0; j < ch; ++j) {
                    if (do_not_decode[j]) continue;
                    const int book = r.books[classes[j][count]][pass];
                    if (book < 0) continue;
                    const int dims = s.books[book].dimensions;
                    const long reads = r.type == 0 ? static_cast<long>(r.partition_size) / dims
                                                   : (static_cast<long>(r.partition_size) + dims - 1) / dims;
                    for (long k = 0; k < reads; ++k)
                        if (read_codeword(b, tables[book], walk) < 0) return false;
                }
            }
        }
    }
    return true;
}

} // namespace

#ifdef TALVO_TESTS_HAVE_LIBOGG

bool available() {
    return true;
}

std::vector<LogicalStream> read_streams(const std::vector<uint8_t>& file) {
    std::vector<LogicalStream> streams;
    std::vector<ogg_stream_state> states;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(buffer, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        const uint32_t serial = static_cast<uint32_t>(ogg_page_serialno(&page));
        size_t k = 0;
        while (k < streams.size() && streams[k].serial != serial)
            ++k;
        if (k == streams.size()) {
            streams.push_back({serial, {}});
            states.emplace_back();
            ogg_stream_init(&states.back(), static_cast<int>(serial));
        }
        ogg_stream_pagein(&states[k], &page);
        ogg_packet packet;
        while (ogg_stream_packetout(&states[k], &packet) == 1)
            streams[k].packets.emplace_back(packet.packet, packet.packet + packet.bytes);
    }
    for (ogg_stream_state& st : states)
        ogg_stream_clear(&st);
    ogg_sync_clear(&sync);
    return streams;
}

namespace {

struct LibvorbisHeaders {
    vorbis_info info;
    vorbis_comment comment;
    bool ok = false;
    explicit LibvorbisHeaders(const LogicalStream& stream) {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
        if (stream.packets.size() < 3) return;
        ok = true;
        for (int i = 0; i < 3 && ok; ++i) {
            ogg_packet p{};
            p.packet = const_cast<unsigned char*>(stream.packets[i].data());
            p.bytes = static_cast<long>(stream.packets[i].size());
            p.b_o_s = i == 0;
            p.packetno = i;
            ok = vorbis_synthesis_headerin(&info, &comment, &p) == 0;
        }
    }
    ~LibvorbisHeaders() {
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
};

} // namespace

bool libvorbis_accepts_headers(const LogicalStream& stream) {
    return LibvorbisHeaders(stream).ok;
}

std::vector<long> libvorbis_packet_blocksizes(const LogicalStream& stream) {
    LibvorbisHeaders headers(stream);
    if (!headers.ok) return {};
    std::vector<long> sizes(stream.packets.size(), 0);
    for (size_t i = 3; i < stream.packets.size(); ++i) {
        ogg_packet p{};
        p.packet = const_cast<unsigned char*>(stream.packets[i].data());
        p.bytes = static_cast<long>(stream.packets[i].size());
        sizes[i] = vorbis_packet_blocksize(&headers.info, &p);
    }
    return sizes;
}

Decoded libvorbis_decode(const LogicalStream& stream) {
    Decoded decoded;
    LibvorbisHeaders headers(stream);
    if (!headers.ok) return decoded;
    vorbis_dsp_state dsp;
    vorbis_block block;
    if (vorbis_synthesis_init(&dsp, &headers.info) != 0) return decoded;
    vorbis_block_init(&dsp, &block);
    decoded.ok = true;
    for (size_t i = 3; i < stream.packets.size() && decoded.ok; ++i) {
        ogg_packet p{};
        p.packet = const_cast<unsigned char*>(stream.packets[i].data());
        p.bytes = static_cast<long>(stream.packets[i].size());
        p.packetno = static_cast<ogg_int64_t>(i);
        p.e_o_s = i + 1 == stream.packets.size();
        decoded.ok = vorbis_synthesis(&block, &p) == 0 && vorbis_synthesis_blockin(&dsp, &block) == 0;
        float** pcm = nullptr;
        int n = 0;
        while ((n = vorbis_synthesis_pcmout(&dsp, &pcm)) > 0) {
            decoded.samples += n;
            vorbis_synthesis_read(&dsp, n);
        }
    }
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    return decoded;
}

#else

bool available() {
    return false;
}
std::vector<LogicalStream> read_streams(const std::vector<uint8_t>&) {
    return {};
}
bool libvorbis_accepts_headers(const LogicalStream&) {
    return false;
}
std::vector<long> libvorbis_packet_blocksizes(const LogicalStream&) {
    return {};
}
Decoded libvorbis_decode(const LogicalStream&) {
    return {};
}

#endif

std::vector<std::pair<size_t, size_t>> page_spans(const std::vector<uint8_t>& file) {
    std::vector<std::pair<size_t, size_t>> spans;
    size_t at = 0;
    while (at + 27 <= file.size() && std::memcmp(file.data() + at, "OggS", 4) == 0) {
        const size_t segments = file[at + 26];
        if (at + 27 + segments > file.size()) break;
        size_t size = 27 + segments;
        for (size_t i = 0; i < segments; ++i)
            size += file[at + 27 + i];
        if (at + size > file.size()) break;
        spans.push_back({at, size});
        at += size;
    }
    return spans;
}

bool parse_headers(const LogicalStream& stream, StreamSetup& s) {
    if (stream.packets.size() < 3) return false;
    const std::vector<uint8_t>& id = stream.packets[0];
    if (id.size() < 30 || id[0] != 1 || std::memcmp(id.data() + 1, "vorbis", 6) != 0) return false;
    s.channels = id[11];
    s.blocksize = {1 << (id[28] & 15), 1 << (id[28] >> 4)};
    Bits b(stream.packets[2]);
    if (b.read(8) != 5) return false;
    for (int i = 0; i < 6; ++i)
        if (b.read(8) != static_cast<uint32_t>("vorbis"[i])) return false;
    s.books.resize(b.read(8) + 1);
    for (Book& book : s.books)
        if (!parse_book(b, book)) return false;
    const int times = static_cast<int>(b.read(6)) + 1;
    for (int i = 0; i < times; ++i)
        if (b.read(16) != 0) return false;
    s.floors.resize(b.read(6) + 1);
    for (Floor& f : s.floors)
        if (b.read(16) != 1 || !parse_floor(b, f, static_cast<int>(s.books.size()))) return false;
    s.residues.resize(b.read(6) + 1);
    for (Residue& r : s.residues) {
        r.type = static_cast<int>(b.read(16));
        if (r.type > 2 || !parse_residue(b, r)) return false;
    }
    s.mappings.resize(b.read(6) + 1);
    for (Mapping& m : s.mappings)
        if (!parse_mapping(b, m, s.channels)) return false;
    s.modes.resize(b.read(6) + 1);
    for (Mode& m : s.modes) {
        m.blockflag = static_cast<int>(b.read(1));
        if (b.read(16) != 0 || b.read(16) != 0) return false;
        m.mapping = static_cast<int>(b.read(8));
    }
    return b.read(1) == 1 && !b.ended;
}

Walk walk_audio_packet(const StreamSetup& s, const std::vector<CodewordTable>& tables,
                       const std::vector<uint8_t>& packet) {
    Walk walk;
    Bits b(packet);
    auto finish = [&]() {
        walk.reached_end = b.ended;
        walk.bits = b.pos;
        return walk;
    };
    if (b.read(1) != 0) return walk.valid = false, finish();
    walk.mode = static_cast<int>(b.read(bit_count(static_cast<uint32_t>(s.modes.size() - 1))));
    const Mode& mode = s.modes[walk.mode];
    if (mode.blockflag) b.read(2);
    const int n = s.blocksize[mode.blockflag] / 2;
    const Mapping& map = s.mappings[mode.mapping];
    std::vector<bool> nonzero(s.channels, false);
    static const int ranges[4] = {256, 128, 86, 64};
    for (int c = 0; c < s.channels; ++c) {
        const Floor& f = s.floors[map.floor[map.mux[c]]];
        nonzero[c] = b.read(1);
        if (!nonzero[c]) continue;
        const int ybits = bit_count(static_cast<uint32_t>(ranges[f.multiplier - 1] - 1));
        b.read(ybits);
        b.read(ybits);
        for (int p = 0; p < f.partitions; ++p) {
            const int cls = f.partition_class[p];
            const int cbits = f.class_subclasses[cls];
            int cval = 0;
            if (cbits) {
                cval = read_codeword(b, tables[f.class_masterbook[cls]], walk);
                if (cval < 0) return finish();
            }
            for (int d = 0; d < f.class_dimensions[cls]; ++d) {
                const int book = f.subclass_books[cls][cval & ((1 << cbits) - 1)];
                cval >>= cbits;
                if (book >= 0 && read_codeword(b, tables[book], walk) < 0) return finish();
            }
        }
        if (b.ended) return finish();
    }
    for (auto [mag, ang] : map.coupling)
        if (nonzero[mag] || nonzero[ang]) nonzero[mag] = nonzero[ang] = true;
    for (int sub = 0; sub < map.submaps; ++sub) {
        std::vector<bool> dnd;
        for (int c = 0; c < s.channels; ++c)
            if (map.mux[c] == sub) dnd.push_back(!nonzero[c]);
        if (!walk_residue(b, s, tables, s.residues[map.residue[sub]], dnd, n, walk)) return finish();
    }
    return finish();
}

} // namespace vorbis_reference
