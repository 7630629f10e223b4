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

// One line per event, as it happens, before the run's own last line.
const char* event_line(CodecEvent event) {
    switch (event) {
    case CodecEvent::FloorType0:
        return "floor0!\n";
    case CodecEvent::ResidueValueOverflow:
        return "res_value overflow!\n";
    case CodecEvent::ResidueClassOverflow:
        return "residue class overflow\n";
    case CodecEvent::ResidueType2OneChannel:
        return "warning! (rtype == 2 && ch == 1)\n";
    case CodecEvent::MissingStoredRecord:
        return "frame list position error!\n";
    }
    return "";
}

void print_event(void* /*context*/, CodecEvent event, int count) {
    for (int i = 0; i < count; ++i)
        std::fputs(event_line(event), stdout);
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
            // Pages go out one write each: a large buffer gathers them into few system calls. (The
            // buffer must be ours: given none, the C library keeps its own size.)
            static char output_buffer[1 << 16];
            std::setvbuf(output, output_buffer, _IOFBF, sizeof output_buffer);
            status = unpack_items(archive, settings, OutputSink{output, file_write},
                                  CodecEvents{nullptr, print_event});
            const bool restored = status == UnpackStatus::Ok || status == UnpackStatus::Incomplete;
            // Buffered bytes that cannot be written are a failed write too.
            if (std::fclose(output) != 0 && restored) status = UnpackStatus::WriteFailed;
        }
    }
    std::fclose(input);
    return finish(status);
}
