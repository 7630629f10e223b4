#pragma once

// The command line of talvo-pack, in the manner of gzip, xz and zstd:
//   talvo-pack [options] INPUT [ARCHIVE.talvo]   one file, the archive defaulting to INPUT.talvo
//   talvo-pack [options] INPUT INPUT...          several files, each to its own INPUT.talvo
//   talvo-pack [options] -o NAME.talvo INPUT...  a bundle: every file (directories walked) in one archive
//   talvo-pack -d [options] ARCHIVE...           restore each NAME.talvo to NAME
//   talvo-pack -t | -l [options] ARCHIVE...      test or list archives
// A second operand names the archive only when it ends in .talvo (and the first does not); any other
// operand is an input, so no file that is not an archive is ever taken for an output (-o names any
// output). "-" names standard input, or standard output as the output; without an operand, standard
// input is read when it is not a terminal.

#include "pack/packer.h"

#include <string>
#include <vector>

// One file's work: packing, INPUT to its archive; restoring, the archive to its output; testing and
// listing, the archive alone (output empty).
struct PackJob {
    std::string input;
    std::string output;
};

// What talvo-pack does with its operands.
enum class FileMode : uint8_t { Pack, Restore, Test, List };

constexpr const char kStandardStream[] = "-";
constexpr const char kArchiveSuffix[] = ".talvo";

struct PackCommand {
    enum class Action : uint8_t { Pack, Help, Version, Usage } action = Action::Pack;
    std::string error; // for Action::Usage
    FileMode mode = FileMode::Pack;
    bool force = false;
    bool verbose = false;
    bool quiet = false;
    bool to_stdout = false;     // -c: every output to standard output
    bool remove_inputs = false; // --rm: each input removed once its output is written and checked
    std::string output;         // -o FILE: one input's output, or the bundle of several inputs
    std::string directory;      // -C DIR: where a bundle's members are restored (default: here)
    bool recursive = false;     // -r: a directory operand stands for every file under it
    // -o with several inputs or a directory: every input into one archive whose manifest names each
    // file (the job's input is then empty; the operands are here).
    std::vector<std::string> bundle_inputs;
    int workers = 0;     // -j N; 0: one per processor
    PackOptions options; // choose_settings on unless -s and a carry option both force them
    std::vector<PackJob> jobs;
};

// `restore_by_default`: the program was started as talvo-unpack. `stdin_piped`: without an operand,
// standard input (not a terminal) is the input: packed to standard output, or the archive read.
PackCommand parse_pack_command(const std::vector<std::string>& args, bool restore_by_default = false,
                               bool stdin_piped = false);

// NAME for NAME.talvo (the suffix in any case); empty when `archive` does not end in it.
std::string restored_name(const std::string& archive);
// Whether the name ends in .talvo (in any case) after something.
bool has_archive_suffix(const std::string& name);

extern const char kPackUsage[];
extern const char kPackHelp[];
