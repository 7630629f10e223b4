#pragma once

// Whole files and ranges of them, as the splice tests write and check them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace splice_test {

using Path = std::filesystem::path;
using Bytes = std::vector<unsigned char>;

void write_file(const Path& path, const Bytes& bytes);
Bytes read_file(const Path& path);
// Reads `size` bytes at `offset` (fewer at the end of the file).
Bytes read_range(const Path& path, std::uint64_t offset, std::size_t size);

// What splicing `source` into `target` at `offset` must give: the target with the source's bytes
// overlaid there, zero-filled up to the offset when the target is shorter.
Bytes overlaid(Bytes target, const Bytes& source, std::size_t offset);

} // namespace splice_test
