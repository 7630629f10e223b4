#pragma once

// Round trips through the packer for the packer's tests: pack, then unpack independently of the
// packer's own verification, and compare.

#include "pack/packer.h"
#include "random_bytes.h"
#include "scratch_dir.h"
#include "unpack/unpacker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes unpack_in_memory(const Bytes& archive) {
    Bytes restored;
    OutputSink sink = vector_sink(restored);
    EXPECT_EQ(unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, sink), UnpackStatus::Ok);
    return restored;
}

inline Bytes read_whole(FILE* file) {
    Bytes bytes;
    EXPECT_EQ(std::fseek(file, 0, SEEK_SET), 0);
    uint8_t buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    return bytes;
}

// The archive that pack_file_spooled writes is the one `in_memory` holds, and its file ends with it.
inline void expect_same_spooled_archive(const Bytes& input, PackOptions options,
                                        const PackResult& in_memory) {
    options.progress = nullptr; // told once, by the pack in memory
    size_t releases = 0;
    options.release_input.release = [](void* context) { ++*static_cast<size_t*>(context); };
    options.release_input.context = &releases;
    // The items' file has a name, and is open a second time for reading: where a second worker is free,
    // the verification reads the items as the pass writes them.
    static std::atomic<int> spools{0};
    const std::string items_name = program_scratch_dir().file("items-" + std::to_string(spools++));
    ArchiveSpool spool{std::fopen(items_name.c_str(), "w+b"), std::tmpfile()};
    spool.items_readback = std::fopen(items_name.c_str(), "rb");
    ASSERT_TRUE(spool.items && spool.archive && spool.items_readback);
    // Stale bytes from an earlier archive must not survive in the file.
    const Bytes stale(in_memory.archive.size() + 100, 0xEE);
    std::fwrite(stale.data(), 1, stale.size(), spool.archive);
    const PackResult spooled = pack_file_spooled(input.data(), input.size(), options, spool);
    EXPECT_EQ(spooled.status, in_memory.status);
    EXPECT_EQ(spooled.flags, in_memory.flags);
    EXPECT_EQ(spooled.archive_size, in_memory.archive.size());
    EXPECT_TRUE(read_whole(spool.archive) == in_memory.archive) << "the spooled archive differs";
    // Each reading of the input (the scan, the pass, the verification) lets its pages go as it goes.
    EXPECT_GE(releases, (options.verify ? 3 : 2) * (input.size() / kInputReleaseInterval));
    std::fclose(spool.items);
    std::fclose(spool.items_readback);
    std::fclose(spool.archive);
    std::remove(items_name.c_str());
}

// Packs `input` with `options` and checks that the archive restores it exactly, and that the archive
// spooled to a file instead is the same (settings forced: the spooled pack's own passes).
inline PackResult pack_round_trip(const Bytes& input, const PackOptions& options = {}) {
    PackResult result = pack_file(input.data(), input.size(), options);
    EXPECT_EQ(result.status, PackStatus::Ok);
    if (!options.choose_settings) expect_same_spooled_archive(input, options, result);
    EXPECT_TRUE(unpack_in_memory(result.archive) == input) << "archive does not restore the input";
    // The runs cover the input in order.
    size_t at = 0;
    for (const PackedRun& run : result.runs) {
        EXPECT_EQ(run.begin, at);
        at = run.end;
    }
    EXPECT_EQ(at, input.size());
    return result;
}

inline std::vector<const PackedRun*> vorbis_runs(const PackResult& result) {
    std::vector<const PackedRun*> runs;
    for (const PackedRun& run : result.runs)
        if (run.vorbis) runs.push_back(&run);
    return runs;
}

// A complete Vorbis stream is modelled; it is stored raw only when its modelled form came out larger.
inline void expect_modelled(const PackedRun& run) {
    if (run.why.find("larger") == std::string::npos)
        EXPECT_NE(run.kind, ItemChoice::Raw) << "stream " << run.serial << " stored raw: " << run.why;
    else
        EXPECT_EQ(run.kind, ItemChoice::Raw);
}

inline Bytes concat(std::initializer_list<const Bytes*> parts) {
    Bytes out;
    for (const Bytes* p : parts)
        out.insert(out.end(), p->begin(), p->end());
    return out;
}
