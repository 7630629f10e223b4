#pragma once

// Turns any file into an archive that the unpacker restores exactly, and proves it before saying so.

#include <cstddef>
#include <cstdint>
#include <vector>

struct PackOptions {
    uint8_t flags = 0;                     // the archive's flags byte
    size_t max_raw_item = size_t{4} << 20; // bytes per raw item; the unpacker holds one item whole
};

enum class PackStatus : uint8_t {
    Ok,
    VerifyFailed, // the archive did not unpack to the input (a defect of the packer)
    OutOfMemory,
};

// Packs `size` bytes into `archive` and verifies it by unpacking it in memory.
PackStatus pack_archive(const uint8_t* data, size_t size, std::vector<uint8_t>& archive,
                        const PackOptions& options = {});

// True when `archive` unpacks, in memory, to exactly the `size` bytes at `data`.
bool verify_archive(const std::vector<uint8_t>& archive, const uint8_t* data, size_t size);
