#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace splice_test {

using Path = std::filesystem::path;
using Bytes = std::vector<unsigned char>;

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const Path& path() const { return path_; }
    Path operator/(const std::string& name) const { return path_ / Path(name); }

  private:
    Path path_;
};

// Bytes that differ from position to position and from seed to seed, so a misplaced or repeated chunk
// shows up as a mismatch.
Bytes pattern_bytes(std::size_t size, std::uint32_t seed);

void write_file(const Path& path, const Bytes& bytes);
Bytes read_file(const Path& path);
// Reads `size` bytes at `offset` (fewer at the end of the file).
Bytes read_range(const Path& path, std::uint64_t offset, std::size_t size);

// What splicing `source` into `target` at `offset` must give: the target with the source's bytes
// overlaid there, zero-filled up to the offset when the target is shorter.
Bytes overlaid(Bytes target, const Bytes& source, std::size_t offset);

} // namespace splice_test
