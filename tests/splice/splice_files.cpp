#include "splice_files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace splice_test {

void write_file(const Path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

Bytes read_file(const Path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes read_range(const Path& path, std::uint64_t offset, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes(size);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

Bytes overlaid(Bytes target, const Bytes& source, std::size_t offset) {
    if (source.empty()) return target;
    if (target.size() < offset + source.size()) target.resize(offset + source.size(), 0);
    std::copy(source.begin(), source.end(), target.begin() + static_cast<std::ptrdiff_t>(offset));
    return target;
}

} // namespace splice_test
