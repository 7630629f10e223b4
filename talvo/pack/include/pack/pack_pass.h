#pragma once

// One packing pass over a scanned file with fixed archive settings: every run becomes raw items, a
// stream item or a repeat item, in file order.

#include "archive/archive_writer.h"
#include "pack/ogg_scan.h"
#include "pack/packer.h"
#include "pack/stream_match.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// What the packer knows about each run before packing: the ranges the archive could refer back to,
// and whether a later run could refer back to this one (which is what makes storing it worth while).
struct RunPlan {
    PageRange pages;           // the whole run (Vorbis runs)
    PageRange headers;         // comment and setup pages, or empty
    bool later_repeat = false; // a later complete run equals this one but for its serial number
    bool later_copy = false;   // a later run has the same comment and setup pages
};

std::vector<RunPlan> plan_runs(const uint8_t* data, const OggScan& scan, InputRelease release = {});

struct PassSettings {
    uint8_t flags = 0;
    size_t max_raw_item = size_t{4} << 20;
    size_t store_limit = kDefaultStoreLimit;       // bytes the unpacker's stores may hold at most
    const std::vector<bool>* forced_raw = nullptr; // per run: store raw whatever else would be possible
    const std::vector<bool>* larger = nullptr;     // per run: store raw, its modelled form was larger
    const std::vector<bool>* no_copy = nullptr;    // per run: code the headers even where a copy is possible
    void (*progress)(void* context, size_t done, size_t total) = nullptr;
    void* progress_context = nullptr;
    InputRelease release; // told of the input's bytes as the pass reads them
    // Told after each run, with the pass's writer: nothing it holds by then is taken back by a later run.
    void (*run_done)(void* context, ArchiveWriter& writer, const PackedRun& run) = nullptr;
    void* run_done_context = nullptr;
};

// The archive of one pass and what became of each run; `peak_slots`, where given, the most codebook
// slots a stream held at once. Throws std::bad_alloc when memory runs out.
std::vector<uint8_t> pack_pass(const uint8_t* data, size_t size, const OggScan& scan,
                               const std::vector<RunPlan>& plans, const PassSettings& settings,
                               std::vector<PackedRun>& runs, int32_t* peak_slots = nullptr);

// An archive whose items went to a spool file: `head` followed by the spool's first `items` bytes.
struct SpooledArchive {
    std::vector<uint8_t> head;
    uint64_t items = 0;
    int error = 0; // errno of a failed spool write
};

// As pack_pass, with the items written to `spool` as they are made rather than held: the memory a pass
// takes no longer grows with its archive. False when a spool write failed (archive.error says why).
bool pack_pass_spooled(const uint8_t* data, size_t size, const OggScan& scan,
                       const std::vector<RunPlan>& plans, const PassSettings& settings, FILE* spool,
                       SpooledArchive& archive, std::vector<PackedRun>& runs, int32_t* peak_slots = nullptr);
