#pragma once

// Turns any file into an archive that the unpacker restores exactly, and proves it before saying so.
// Vorbis logical streams become stream items (or repeat items, or stream items that copy an earlier
// header set); every other byte is stored verbatim in raw items.

#include "archive/archive_extension.h"
#include "pack/input_release.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr size_t kDefaultStoreLimit = size_t{256} << 20;

struct PackOptions {
    uint8_t flags = 0;                              // the archive's flags byte, when settings are forced
    bool choose_settings = false;                   // try the slot counts and carry-over, keep the smallest
    int slot_selector = -1;                         // with choose_settings: -1 tries 0-3, else only this one
    int carry_over = -1;                            // with choose_settings: -1 tries both, else 0 or 1
    bool verify = true;                             // unpack in memory and compare before succeeding
    bool checksum = false;                          // follow the end marker with the checksum extension
    std::vector<ExtensionRecord> extension_records; // with checksum: records after the content record
    size_t max_raw_item = size_t{4} << 20;          // bytes per raw item; the unpacker holds one item whole
    // What the unpacker's stores may come to hold at most (streams kept for repeat items, header pages
    // kept for copies): they are never emptied while an archive is restored, so this bounds what any
    // archive, however many files it holds, asks of the unpacker's memory.
    size_t store_limit = kDefaultStoreLimit;
    // Called now and then, from one thread at a time, with how much of the file is packed: the settings
    // trials and the verification together, as a share of its `total` bytes. `done` only grows, and
    // reaches `total` once the file is packed (never when packing fails).
    void (*progress)(void* context, size_t done, size_t total) = nullptr;
    void* progress_context = nullptr;
    InputRelease release_input; // lets the caller drop the input's pages as they are read
};

enum class PackStatus : uint8_t {
    Ok,
    VerifyFailed, // the archive did not unpack to the input even with every byte raw (a defect)
    OutOfMemory,
    WriteFailed, // a spooled archive's file could not be written or read back (PackResult::write_error)
};

enum class ItemChoice : uint8_t {
    Raw,        // bytes stored verbatim
    Stream,     // a Vorbis stream modelled field by field
    HeaderCopy, // modelled, with its comment and setup pages copied from an earlier stream
    Repeat,     // an earlier stream again under another serial number
};

// One stretch of the input and how it went into the archive.
struct PackedRun {
    size_t begin = 0;
    size_t end = 0;
    bool vorbis = false; // a Vorbis logical stream (or the start of one)
    uint32_t serial = 0;
    ItemChoice kind = ItemChoice::Raw;
    std::string why;              // for Vorbis streams stored raw, or for the raw tail of a partial one
    size_t modelled_end = 0;      // modelled streams: where the modelled pages end (the rest is raw)
    bool larger_than_raw = false; // modelled, but larger than the stream: store it raw next time
    size_t out_bytes = 0;         // archive bytes outside the control block
};

struct PackResult {
    PackStatus status = PackStatus::Ok;
    std::vector<uint8_t> archive; // empty when the archive was spooled
    uint64_t archive_size = 0;    // the archive's bytes, its extension included
    int write_error = 0;          // WriteFailed: the errno of the write or read that failed
    std::vector<PackedRun> runs;
    uint8_t flags = 0;
    int verify_fallbacks = 0;           // streams stored raw because they did not restore exactly
    bool verified_while_packed = false; // a spooled archive was proved by a verification beside its pass
};

PackResult pack_file(const uint8_t* data, size_t size, const PackOptions& options = {});

// Where pack_file_spooled puts its archive: two files of the caller's, open for writing and reading
// ("w+b"), whose contents on entry do not matter.
struct ArchiveSpool {
    FILE* items = nullptr;   // scratch: the items of each pass as they are made
    FILE* archive = nullptr; // the archive, whole and with its extension, as it was verified
    // The items' file open again, for reading only, or null. With it, and a second worker, the archive
    // is verified as the pass writes it instead of after it.
    FILE* items_readback = nullptr;
};

// As pack_file, with the archive written to `spool.archive` (from its start; the file is cut to the
// archive's length) instead of held in memory, and verified by reading it back from there: packing
// then takes memory for the input and the unpacker's stores, not for the archive. The settings search
// runs in memory as pack_file's does, so large inputs come with the settings forced. The archive is
// byte for byte the one pack_file makes.
PackResult pack_file_spooled(const uint8_t* data, size_t size, const PackOptions& options,
                             const ArchiveSpool& spool);

// Packs with the forced settings of `options` and verifies (when asked); the archive only.
PackStatus pack_archive(const uint8_t* data, size_t size, std::vector<uint8_t>& archive,
                        const PackOptions& options = {});

// What first_difference returns for an archive that restores its input exactly.
constexpr size_t kNoDifference = SIZE_MAX;

// Where the archive's output first differs from the `size` bytes at `data` (`size` or beyond when the
// output is too short or too long, or when the archive is more than one member and its extension), or
// kNoDifference when it restores them exactly.
size_t first_difference(const std::vector<uint8_t>& archive, const uint8_t* data, size_t size);

// The archive followed by its extension, which records the restored length and checksum of the `size`
// bytes at `data` that it restores.
// `more` follow the content record.
void append_extension(std::vector<uint8_t>& archive, const uint8_t* data, size_t size,
                      const std::vector<ExtensionRecord>& more = {});

// True when `archive` unpacks, in memory, to exactly the `size` bytes at `data`.
bool verify_archive(const std::vector<uint8_t>& archive, const uint8_t* data, size_t size);

const char* item_choice_name(ItemChoice kind);
