// talvo ARCHIVE OUTPUT: restores the file packed into ARCHIVE.

#include "unpack/unpacker.h"

#include <cstdio>

namespace {

int finish(UnpackStatus status) {
    std::fputs(unpack_status_message(status), stdout);
    std::fflush(stdout);
    return unpack_status_exit_code(status);
}

bool file_write(void* file, const uint8_t* bytes, size_t n) {
    return std::fwrite(bytes, 1, n, static_cast<FILE*>(file)) == n;
}

} // namespace

int main(int argc, char** argv) {
    std::fputs("TALVO v0.1.1\n", stdout);
    std::fflush(stdout);
    if (argc != 3) return -1;

    // The output is created only once the input has been opened and its header accepted, so a
    // mistyped command line does not truncate a file that was never meant as the output.
    FILE* input = std::fopen(argv[1], "rb");
    if (!input) return finish(UnpackStatus::CannotCreate);
    const ArchiveInput archive{input, nullptr, 0};
    ArchiveSettings settings;
    UnpackStatus status = read_archive_header(archive, settings);
    if (status == UnpackStatus::Ok) {
        FILE* output = std::fopen(argv[2], "wb");
        if (!output) {
            status = UnpackStatus::CannotCreate;
        } else {
            status = unpack_items(archive, settings, OutputSink{output, file_write});
            const bool restored = status == UnpackStatus::Ok || status == UnpackStatus::Incomplete;
            // Buffered bytes that cannot be written are a failed write too.
            if (std::fclose(output) != 0 && restored) status = UnpackStatus::WriteFailed;
        }
    }
    std::fclose(input);
    return finish(status);
}
