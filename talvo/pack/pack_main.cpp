// talvo-pack [-f] INPUT ARCHIVE: packs INPUT into an archive that talvo restores byte for byte.

#include "pack/packer.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef TALVO_VERSION
#define TALVO_VERSION "0.1.1"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] = "Usage: talvo-pack [-f] INPUT ARCHIVE\n";

void print_help() {
    std::fputs(kUsage, stdout);
    std::fputs("Packs INPUT (normally an Ogg file) into ARCHIVE, which `talvo ARCHIVE OUTPUT` restores\n"
               "byte for byte. Every archive is unpacked in memory and compared with INPUT before it is\n"
               "written. This version stores all bytes verbatim (raw items).\n"
               "\n"
               "  -f, --force   overwrite ARCHIVE if it exists\n"
               "  -h, --help    show this help\n"
               "  --version     show the version\n",
               stdout);
}

bool read_whole_file(const char* path, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    uint8_t chunk[1 << 16];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool file_exists(const char* path) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

bool write_whole_file(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) std::remove(path); // no half-written archive left behind
    return ok;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "talvo-pack: %s\n", message.c_str());
    return kExitFailure;
}

} // namespace

int main(int argc, char** argv) {
    bool force = false;
    bool options_done = false;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!options_done && arg[0] == '-' && arg[1] != '\0') {
            if (!std::strcmp(arg, "--")) {
                options_done = true;
            } else if (!std::strcmp(arg, "-f") || !std::strcmp(arg, "--force")) {
                force = true;
            } else if (!std::strcmp(arg, "-h") || !std::strcmp(arg, "--help")) {
                print_help();
                return kExitOk;
            } else if (!std::strcmp(arg, "--version")) {
                std::fputs("talvo-pack " TALVO_VERSION "\n", stdout);
                return kExitOk;
            } else {
                std::fprintf(stderr, "talvo-pack: unknown option %s\n%s", arg, kUsage);
                return kExitUsage;
            }
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const char* input_path = paths[0];
    const char* archive_path = paths[1];

    std::vector<uint8_t> input;
    if (!read_whole_file(input_path, input)) return fail(std::string("cannot read ") + input_path);
    if (!force && file_exists(archive_path))
        return fail(std::string(archive_path) + " exists (use -f to overwrite it)");

    std::vector<uint8_t> archive;
    switch (pack_archive(input.data(), input.size(), archive)) {
    case PackStatus::Ok:
        break;
    case PackStatus::OutOfMemory:
        return fail("out of memory");
    case PackStatus::VerifyFailed:
        return fail("the archive did not unpack to the input; nothing written");
    }
    if (!write_whole_file(archive_path, archive)) return fail(std::string("cannot write ") + archive_path);
    std::printf("%s: %zu bytes -> %s: %zu bytes\n", input_path, input.size(), archive_path, archive.size());
    return kExitOk;
}
