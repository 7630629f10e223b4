// talvo ARCHIVE OUTPUT: restores the file packed into ARCHIVE.

#include "driver/unpacker.h"

#include <cstdio>

namespace {

int finish(UnpackStatus status) {
    std::fputs(unpack_status_message(status), stdout);
    std::fflush(stdout);
    return unpack_status_exit_code(status);
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
    FileOutput output{argv[2], nullptr};
    OutputSink sink = file_output_sink(output);
    UnpackStatus status = unpack_archive(ArchiveInput{input, nullptr, 0}, sink);
    std::fclose(input);
    const bool restored = status == UnpackStatus::Ok || status == UnpackStatus::Incomplete;
    if (!close_file_output(output) && restored) status = UnpackStatus::WriteFailed;
    return finish(status);
}
