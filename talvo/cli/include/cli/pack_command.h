#pragma once

// The command line of talvo-pack, in the manner of gzip, xz and zstd:
//   talvo-pack [options] INPUT [ARCHIVE]      one file, ARCHIVE defaulting to INPUT.talvo
//   talvo-pack [options] INPUT INPUT...       several files, each to its own INPUT.talvo
// Two operands name an input and its archive unless the second looks like another Ogg file.

#include "pack/packer.h"

#include <string>
#include <vector>

struct PackJob {
    std::string input;
    std::string archive;
};

struct PackCommand {
    enum class Action : uint8_t { Pack, Help, Version, Usage } action = Action::Pack;
    std::string error; // for Action::Usage
    bool force = false;
    bool verbose = false;
    bool quiet = false;
    int workers = 0;     // -j N; 0: one per processor
    PackOptions options; // choose_settings on unless -s and a carry option both force them
    std::vector<PackJob> jobs;
};

PackCommand parse_pack_command(const std::vector<std::string>& args);

extern const char kPackUsage[];
extern const char kPackHelp[];
