#include "splice_job.h"

#include "chunk_copy.h"
#include "splice_error.h"

#include <cerrno>
#include <string>
#include <system_error>

namespace splice_tool {
namespace {

[[noreturn]] void fail(const std::string& what, int error) {
    throw SpliceError(ExitCode::failure, what + ": " + describe_errno(error ? error : EIO));
}

std::string quoted(const Path& path) {
    std::string text = display_path(path);
    text.insert(text.begin(), '\'');
    text.push_back('\'');
    return text;
}

// The opened target. A file this run created is deleted again unless the run completes, so a failed
// splice never leaves a new empty or half-written file behind.
class TargetFile {
  public:
    explicit TargetFile(const Path& path) : path_(path) {
        int update_error = 0;
        stream_ = open_for_update(path, update_error);
        if (stream_) return;
        // Only a missing target may be created. An existing file that cannot be opened for update
        // (no permission, locked, a directory) is reported and left exactly as it is.
        int create_error = 0;
        stream_ = create_new(path, create_error);
        if (stream_) {
            created_ = true;
            return;
        }
        if (create_error == EEXIST) fail("cannot open target " + quoted(path) + " for update", update_error);
        fail("cannot create target " + quoted(path), create_error);
    }
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    ~TargetFile() {
        if (finished_ || !created_) return;
        stream_ = FileStream(); // closed first: Windows cannot delete an open file
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

    std::FILE* get() const { return stream_.get(); }

    void finish() {
        const int error = stream_.close();
        if (error != 0) fail("cannot finish writing target " + quoted(path_), error);
        finished_ = true;
    }

  private:
    Path path_;
    FileStream stream_;
    bool created_ = false;
    bool finished_ = false;
};

std::uint64_t length_of(std::FILE* file, const char* which, const Path& path) {
    errno = 0;
    const auto length = measure_length(file);
    if (!length) fail(std::string("cannot determine the length of ") + which + " " + quoted(path), errno);
    return *length;
}

} // namespace

void run_splice(const SpliceRequest& request) {
    // The source comes first: if it cannot be read there is no reason to create or touch the target.
    int source_error = 0;
    FileStream source = open_for_reading(request.source, source_error);
    if (!source) fail("cannot open source " + quoted(request.source), source_error);
    const std::uint64_t length = length_of(source.get(), "source", request.source);

    TargetFile target(request.target);
    const std::uint64_t offset =
        request.where.append ? length_of(target.get(), "target", request.target) : request.where.offset;

    if (length > 0) {
        if (offset > static_cast<std::uint64_t>(INT64_MAX) - length)
            throw SpliceError(ExitCode::failure, "offset " + hex_text(offset) + " plus the source length " +
                                                     hex_text(length) +
                                                     " is beyond the largest file position");
        const bool overlapping = offset > 0 && offset < length && same_file(source.get(), target.get());
        copy_chunks(source.get(), target.get(), offset, length,
                    overlapping ? CopyOrder::back_to_front : CopyOrder::front_to_back);
    }
    target.finish();
}

} // namespace splice_tool
