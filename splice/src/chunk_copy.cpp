#include "chunk_copy.h"

#include "file_stream.h"
#include "splice_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace splice_tool {
namespace {

[[noreturn]] void fail(const std::string& what, int error) {
    throw SpliceError(ExitCode::failure, what + ": " + describe_errno(error ? error : EIO));
}

void seek_or_fail(std::FILE* file, std::uint64_t offset, const char* which) {
    errno = 0;
    if (!seek_to(file, offset))
        fail(std::string("cannot seek ") + which + " to offset " + hex_text(offset), errno);
}

void read_chunk(std::FILE* source, char* buffer, std::size_t size, std::uint64_t position,
                std::uint64_t length) {
    errno = 0;
    const std::size_t got = std::fread(buffer, 1, size, source);
    if (got == size) return;
    if (std::ferror(source)) fail("cannot read source", errno);
    throw SpliceError(ExitCode::failure, "source ended after " + std::to_string(position + got) + " of " +
                                             std::to_string(length) + " bytes; it shrank while being copied");
}

void write_chunk(std::FILE* target, const char* buffer, std::size_t size) {
    errno = 0;
    if (std::fwrite(buffer, 1, size, target) != size) fail("cannot write target", errno);
}

// The copy buffer, page aligned like dd's so the kernel copies whole pages to and from it.
class ChunkBuffer {
  public:
    static constexpr std::align_val_t alignment{4096};
    ChunkBuffer() : data_(static_cast<char*>(::operator new(chunk_size, alignment))) {
        std::memset(data_, 0, chunk_size);
    }
    ~ChunkBuffer() { ::operator delete(data_, alignment); }
    ChunkBuffer(const ChunkBuffer&) = delete;
    ChunkBuffer& operator=(const ChunkBuffer&) = delete;
    char* data() const { return data_; }

  private:
    char* data_;
};

} // namespace

void copy_chunks(std::FILE* source, std::FILE* target, std::uint64_t offset, std::uint64_t length,
                 CopyOrder order) {
    const ChunkBuffer buffer;
    const std::uint64_t chunk_count = (length + chunk_size - 1) / chunk_size;

    if (order == CopyOrder::front_to_back) {
        seek_or_fail(source, 0, "source");
        seek_or_fail(target, offset, "target");
        for (std::uint64_t done = 0; done < length; done += chunk_size) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_size, length - done));
            read_chunk(source, buffer.data(), size, done, length);
            write_chunk(target, buffer.data(), size);
        }
        return;
    }

    for (std::uint64_t index = chunk_count; index-- > 0;) {
        const std::uint64_t start = index * chunk_size;
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_size, length - start));
        seek_or_fail(source, start, "source");
        read_chunk(source, buffer.data(), size, start, length);
        seek_or_fail(target, offset + start, "target");
        write_chunk(target, buffer.data(), size);
    }
}

} // namespace splice_tool
