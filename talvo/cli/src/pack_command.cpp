#include "cli/pack_command.h"

#include "archive/archive_format.h"

#include <algorithm>
#include <cctype>

const char kPackUsage[] = "Usage: talvo-pack [options] INPUT [ARCHIVE]\n"
                          "       talvo-pack [options] INPUT INPUT...\n";

const char kPackHelp[] =
    "Packs Ogg files (any file, in fact) into archives that `talvo ARCHIVE OUTPUT` restores byte for\n"
    "byte. Ogg Vorbis streams are modelled; everything else is stored verbatim. Each archive is unpacked\n"
    "in memory and compared with its input before it is written. ARCHIVE defaults to INPUT.talvo; with\n"
    "several inputs (or a second name ending in .ogg, .oga, .ogv, .ogx, .opus or .spx) every INPUT goes to\n"
    "its own INPUT.talvo. Inputs are never changed or deleted.\n"
    "\n"
    "  -f, --force      overwrite existing archives\n"
    "  -v, --verbose    report every logical stream: serial number, how it was stored, bytes in and out\n"
    "  -q, --quiet      print nothing but errors\n"
    "  -j N             work on N threads at most (default: one per processor); the archives are the\n"
    "                   same for every N\n"
    "  -s N             codebook slot count 2^(N+4), N = 0..3 (default: the smallest archive)\n"
    "      --carry      carry statistics over from one stream to the next\n"
    "      --no-carry   start every stream from fresh statistics (default: the smallest archive)\n"
    "      --no-verify  skip the in-memory unpack and comparison\n"
    "  -h, --help       show this help\n"
    "  -V, --version    show the version\n"
    "\n"
    "Exit status: 0 when every archive was written, 1 when a file failed, 2 on a usage error.\n";

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    return std::equal(tail.rbegin(), tail.rend(), s.rbegin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

bool looks_like_ogg(const std::string& path) {
    for (const char* ext : {".ogg", ".oga", ".ogv", ".ogx", ".opus", ".spx"})
        if (ends_with(path, ext)) return true;
    return false;
}

PackCommand usage(std::string error) {
    PackCommand command;
    command.action = PackCommand::Action::Usage;
    command.error = std::move(error);
    return command;
}

bool parse_selector(const std::string& text, int& selector) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '0' + kFlagsMaxSlotSelector) return false;
    selector = text[0] - '0';
    return true;
}

// A thread count: 1 to 4096, in decimal.
bool parse_workers(const std::string& text, int& workers) {
    if (text.empty() || text.size() > 4) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 4096) return false;
    workers = value;
    return true;
}

} // namespace

PackCommand parse_pack_command(const std::vector<std::string>& args) {
    PackCommand command;
    int selector = -1;
    int carry = -1;
    bool options_done = false;
    std::vector<std::string> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "-f" || arg == "--force") {
            command.force = true;
        } else if (arg == "-v" || arg == "--verbose") {
            command.verbose = true;
            command.quiet = false;
        } else if (arg == "-q" || arg == "--quiet") {
            command.quiet = true;
            command.verbose = false;
        } else if (arg == "-s" || arg.rfind("-s", 0) == 0 || arg.rfind("--slots=", 0) == 0) {
            std::string value;
            if (arg == "-s") {
                if (i + 1 == args.size()) return usage("-s needs a value 0..3");
                value = args[++i];
            } else {
                value = arg.substr(arg[1] == 's' ? 2 : 8);
            }
            if (!parse_selector(value, selector)) return usage("-s takes a value 0..3, not " + value);
        } else if (arg == "-j" || arg.rfind("-j", 0) == 0 || arg.rfind("--threads=", 0) == 0) {
            std::string value;
            if (arg == "-j") {
                if (i + 1 == args.size()) return usage("-j needs a thread count");
                value = args[++i];
            } else {
                value = arg.substr(arg[1] == 'j' ? 2 : 10);
            }
            if (!parse_workers(value, command.workers))
                return usage("-j takes a thread count 1..4096, not " + value);
        } else if (arg == "--carry") {
            carry = 1;
        } else if (arg == "--no-carry") {
            carry = 0;
        } else if (arg == "--no-verify") {
            command.options.verify = false;
        } else if (arg == "-h" || arg == "--help") {
            command.action = PackCommand::Action::Help;
            return command;
        } else if (arg == "-V" || arg == "--version") {
            command.action = PackCommand::Action::Version;
            return command;
        } else {
            return usage("unknown option " + arg);
        }
    }
    if (operands.empty()) return usage("no input file");

    command.options.slot_selector = selector;
    command.options.carry_over = carry;
    command.options.choose_settings = selector < 0 || carry < 0;
    command.options.flags = static_cast<uint8_t>(std::max(selector, 0) | (carry > 0 ? kFlagsCarryOver : 0));

    if (operands.size() == 2 && !looks_like_ogg(operands[1])) {
        command.jobs.push_back(PackJob{operands[0], operands[1]});
    } else {
        for (const std::string& input : operands)
            command.jobs.push_back(PackJob{input, input + ".talvo"});
    }
    return command;
}
