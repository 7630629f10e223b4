#pragma once

// Round trips through the packer for the packer's tests: pack, then unpack independently of the
// packer's own verification, and compare.

#include "pack/packer.h"
#include "random_bytes.h"
#include "unpack/unpacker.h"

#include <gtest/gtest.h>

#include <cstdint>
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

// Packs `input` with `options` and checks that the archive restores it exactly.
inline PackResult pack_round_trip(const Bytes& input, const PackOptions& options = {}) {
    PackResult result = pack_file(input.data(), input.size(), options);
    EXPECT_EQ(result.status, PackStatus::Ok);
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
