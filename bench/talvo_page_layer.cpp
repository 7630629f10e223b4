// Page-layer throughput: every page of an Ogg file packed (headers and lacing modelled from the
// original pages) and unpacked (headers and lacing decoded, payload bytes moved through the bit I/O's
// byte steps, CRC, output). Usage: bench_talvo_page_layer [file.ogg]; without a file, 100 MB of
// Vorbis-like pages are synthesized (packets of 1 to 700 bytes, pages of about 4 KiB, continued
// packets, one logical stream per 10 MB).

#include "ogg/ogg_crc.h"
#include "ogg/ogg_page.h"
#include "ogg/page_layer.h"
#include "ogg/page_store.h"
#include "page_walk.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

namespace {

void put_page(std::vector<uint8_t>& out, uint8_t type, uint64_t granule, uint32_t serial, uint32_t seq,
              const std::vector<uint8_t>& lacing, std::mt19937& rng) {
    const size_t start = out.size();
    out.resize(start + 27 + lacing.size());
    uint8_t* h = &out[start];
    std::memcpy(h, "OggS", 4);
    h[4] = 0;
    h[5] = type;
    write_le32(h + 6, static_cast<uint32_t>(granule));
    write_le32(h + 10, static_cast<uint32_t>(granule >> 32));
    write_le32(h + 14, serial);
    write_le32(h + 18, seq);
    write_le32(h + 22, 0);
    h[26] = static_cast<uint8_t>(lacing.size());
    std::memcpy(h + 27, lacing.data(), lacing.size());
    size_t payload = 0;
    for (uint8_t v : lacing)
        payload += v;
    for (size_t i = 0; i < payload; ++i)
        out.push_back(static_cast<uint8_t>(rng()));
    write_le32(&out[start + 22], ogg_page_crc(&out[start], out.size() - start));
}

std::vector<uint8_t> synthesize(size_t target) {
    std::mt19937 rng(1);
    std::vector<uint8_t> out;
    out.reserve(target + 100000);
    uint32_t serial = 1000;
    while (out.size() < target) {
        const size_t stream_end = out.size() + 10 * 1000 * 1000;
        uint32_t seq = 0;
        uint64_t granule = 0;
        put_page(out, 2, 0, serial, seq++, {30}, rng);
        std::vector<uint8_t> lacing;
        bool continued = false;
        int pending = 0; // bytes of a packet still to lace
        while (out.size() < stream_end && out.size() < target) {
            lacing.clear();
            const bool starts_continued = continued;
            int page_bytes = 0;
            while (lacing.size() < 255 && page_bytes < 4096) {
                if (pending == 0) pending = 1 + static_cast<int>(rng() % 700) + (rng() % 8 == 0 ? 2000 : 0);
                const int v = pending >= 255 ? 255 : pending;
                lacing.push_back(static_cast<uint8_t>(v));
                page_bytes += v;
                pending -= v;
                if (v < 255) {
                    pending = 0;
                } else if (pending == 0) {
                    pending = -1; // a multiple of 255: the terminating 0 follows
                }
                if (pending == -1 && lacing.size() < 255) {
                    lacing.push_back(0);
                    pending = 0;
                }
            }
            if (pending == -1)
                pending = 0; // the terminating 0 did not fit: the next page carries a zero-length end
            continued = !lacing.empty() && lacing.back() == 255;
            granule += 1024 * 16;
            const bool last = out.size() + page_bytes >= stream_end || out.size() + page_bytes >= target;
            if (last && continued) lacing.back() = 100, continued = false, pending = 0;
            put_page(out, static_cast<uint8_t>((starts_continued ? 1 : 0) | (last ? 4 : 0)), granule, serial,
                     seq++, lacing, rng);
            if (last) break;
        }
        ++serial;
    }
    return out;
}

struct State {
    std::unique_ptr<ModelArea> models = std::make_unique<ModelArea>();
    std::vector<uint16_t> probs = std::vector<uint16_t>(9000, kProbInit);
    PageStore header_store, stream_store;
    StreamContext ctx;
    State() {
        reset_models(*models, kModelAreaRecords);
        store_create(header_store, kHeaderStoreBytes, kStoreRecords);
        store_create(stream_store, kStreamStoreBytes, kStoreRecords);
    }
    ~State() {
        store_release(header_store);
        store_release(stream_store);
    }
    void start_stream() {
        reset_models(*models, 7);
        StreamLinks links;
        links.models = models.get();
        links.packet_probs = probs.data();
        links.header_store = &header_store;
        links.stream_store = &stream_store;
        init_stream_context(ctx, links);
    }
};

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<uint8_t> file;
    if (argc > 1) {
        std::ifstream in(argv[1], std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        file = synthesize(100u * 1000u * 1000u);
    }
    std::vector<OggPage> pages;
    if (split_ogg_pages(file.data(), file.size(), pages) != file.size()) {
        std::fprintf(stderr, "not a sequence of whole Ogg pages\n");
        return 1;
    }
    const auto streams = group_pages_by_serial(pages);
    std::vector<std::vector<uint8_t>> payloads;
    for (const auto& s : streams)
        payloads.push_back(concat_payloads(s));
    const double mb = static_cast<double>(file.size()) / 1e6;
    std::printf("input: %.1f MB, %zu pages, %zu logical streams\n", mb, pages.size(), streams.size());

    std::vector<uint8_t> output;
    output.reserve(file.size());
    for (int round = 0; round < 3; ++round) {
        State packer;
        std::vector<std::vector<uint8_t>> archives;
        const std::clock_t c0 = std::clock();
        auto t0 = std::chrono::steady_clock::now();
        for (const auto& s : streams) {
            packer.start_stream();
            RangeEncoder enc;
            enc.out.reserve(s.size() * 8);
            set_original_pages(packer.ctx, s.data(), static_cast<int32_t>(s.size()), &enc);
            if (!walk_stream_pages<Packing>(packer.ctx, nullptr, 0) || packer.ctx.inexpressible) {
                std::fprintf(stderr, "stream not expressible\n");
                return 1;
            }
            flush_encoder(enc);
            archives.push_back(std::move(enc.out));
        }
        const double pack_s = seconds_since(t0);
        const double pack_cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
        size_t archive_bytes = 0;
        for (const auto& a : archives)
            archive_bytes += a.size();

        State unpacker;
        output.clear();
        const std::clock_t c1 = std::clock();
        t0 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < streams.size(); ++i) {
            unpacker.start_stream();
            unpacker.ctx.output = vector_sink(output);
            open_page_buffer(unpacker.ctx);
            init_decoder(unpacker.ctx.page_decoder, archives[i].data(),
                         static_cast<int32_t>(archives[i].size()));
            walk_stream_pages<Unpacking>(unpacker.ctx, payloads[i].data(), payloads[i].size());
        }
        const double unpack_s = seconds_since(t0);
        const double unpack_cpu = static_cast<double>(std::clock() - c1) / CLOCKS_PER_SEC;
        const bool same = output == file;
        std::printf("round %d: pack %.0f MB/s (%.0f per CPU second), unpack %.0f MB/s (%.0f per CPU second), "
                    "page sub-stream %zu bytes (%.2f bytes/page), restored %s\n",
                    round, mb / pack_s, mb / pack_cpu, mb / unpack_s, mb / unpack_cpu, archive_bytes,
                    static_cast<double>(archive_bytes) / static_cast<double>(pages.size()),
                    same ? "identical" : "DIFFERENT");
        if (!same) return 1;
    }
    return 0;
}
