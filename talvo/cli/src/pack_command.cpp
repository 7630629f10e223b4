#include "cli/pack_command.h"

#include "archive/archive_format.h"
#include "cli/file_system.h"

#include <algorithm>
#include <cctype>

const char kPackUsage[] = "Usage: talvo-pack [options] INPUT [ARCHIVE.talvo]\n"
                          "       talvo-pack [options] INPUT INPUT...\n"
                          "       talvo-pack [options] -o BUNDLE.talvo INPUT|DIRECTORY...\n"
                          "       talvo-pack -d [options] ARCHIVE...\n"
                          "       talvo-pack -t|-l [options] ARCHIVE...\n";

const char kPackHelp[] =
    "Packs Ogg files (any file, in fact) into archives that `talvo ARCHIVE OUTPUT` restores byte for\n"
    "byte, and restores, tests and lists such archives. Ogg Vorbis streams are modelled; everything else\n"
    "is stored verbatim. Each archive is unpacked in memory and compared with its input before it is\n"
    "written. The archive is INPUT.talvo, or a second name that ends in .talvo; any other operand is one\n"
    "more input, packed into its own INPUT.talvo (-o names any output). Inputs that already end in .talvo\n"
    "are left alone (-o or -c packs them), and so are symbolic links and other files that are not regular\n"
    "(-f or -c reads them). Inputs are kept unless --rm is given. Outputs are written under a temporary\n"
    "name and renamed when complete, so a failed or interrupted run leaves nothing under the output's\n"
    "name; they take the input's modification time and permissions. \"-\" stands for standard input (and\n"
    "then standard output); without an operand, a standard input that is not a terminal is packed to\n"
    "standard output (or, with -d, -t or -l, read as an archive).\n"
    "\n"
    "  -d, --decompress  restore each NAME.talvo to NAME (talvo-unpack does this by default)\n"
    "  -t, --test        restore each archive without writing it and report what did not restore\n"
    "  -l, --list        list each archive's items and settings, with totals (-v: per stream details)\n"
    "  -c, --stdout      write to standard output (one input only when packing; never to a terminal)\n"
    "  -o FILE           name the output; with several inputs or a directory, pack them all into one\n"
    "                    archive, a bundle, that -d restores as the files it was made of\n"
    "  -r, --recursive   pack every file under a directory operand, each into its own archive\n"
    "  -C DIR            restore a bundle's files under DIR (default: the current directory)\n"
    "  -f, --force       overwrite existing outputs; read symbolic links and files that are not regular\n"
    "  -k, --keep        keep the inputs (the default)\n"
    "      --rm          remove each input once its output is written (and verified, so not with\n"
    "                    --no-verify or -c); never after a failure\n"
    "  -v, --verbose     report every logical stream: serial number, how it was stored, bytes in and out\n"
    "  -q, --quiet       print nothing but errors\n"
    "  -j N              work on N threads at most (default: one per processor); the archives are the\n"
    "                    same for every N\n"
    "  -s N              codebook slot count 2^(N+4), N = 0..3 (default: the smallest archive;\n"
    "                    a bundle: 32 slots, N = 1)\n"
    "      --carry       carry statistics over from one stream to the next (a bundle's default)\n"
    "      --no-carry    start every stream from fresh statistics (default: the smallest archive)\n"
    "      --no-verify   skip the in-memory unpack and comparison\n"
    "      --no-check    write no checksum after the archive's end marker (the archive then ends there)\n"
    "  -h, --help        show this help\n"
    "  -V, --version     show the version\n"
    "      --            end of options\n"
    "\n"
    "What -d, -t and -l check: every archive talvo-pack writes ends in a checksum (XXH3-64) and the length\n"
    "of what it restores, placed after the end marker where every unpacker ignores it; a restore that\n"
    "differs from it fails. Archives without one (--no-check, other programs) are restored as before and\n"
    "-t and -l say that nothing but their structure could be checked: items that do not restore\n"
    "completely, an archive cut short or whose coded data runs past its end, and in raw items whole Ogg\n"
    "pages whose checksum does not match. Archives one after another in a file (cat a.talvo b.talvo)\n"
    "restore one after another; other bytes after the last archive are an error.\n"
    "\n"
    "Bundles: the files go in sorted by path (directories walked, regular files only), are modelled as\n"
    "one chained stream, and their paths, lengths, times, permissions and checksums go after the end\n"
    "marker. -d restores each file under its path (never outside the destination), -t checks each, -l\n"
    "lists them; talvo, and -c, restore the files one after another.\n"
    "\n"
    "Examples:\n"
    "  talvo-pack song.ogg                  pack into song.ogg.talvo\n"
    "  talvo-pack -d song.ogg.talvo         restore song.ogg\n"
    "  talvo-pack -d -j4 *.talvo            restore many archives on 4 threads\n"
    "  talvo-pack -dc - < a.talvo > a.ogg   restore from a pipe to a pipe\n"
    "  talvo-pack -c song.ogg > s.talvo     pack to standard output\n"
    "  talvo-pack -t *.talvo                check archives\n"
    "  talvo-pack -lv song.ogg.talvo        list the items and streams of an archive\n"
    "  talvo-pack -o sfx.talvo sounds/      pack a folder into one archive\n"
    "  talvo-pack -d -C out sfx.talvo       restore it under out/\n"
    "\n"
    "Exit status: 0 when every file was done, 1 when a file failed, 2 on a usage error.\n";

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    return std::equal(tail.rbegin(), tail.rend(), s.rbegin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
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

struct Parser {
    PackCommand command;
    int selector = -1;
    int carry = -1;
    std::string error;

    void set_mode(FileMode mode) {
        // Testing and listing restore too: -d beside them changes nothing.
        if (mode != FileMode::Restore || command.mode == FileMode::Pack) command.mode = mode;
    }

    // One option without a value; false when `name` is none.
    bool flag(const std::string& name) {
        if (name == "d" || name == "decompress" || name == "uncompress") {
            set_mode(FileMode::Restore);
        } else if (name == "t" || name == "test") {
            set_mode(FileMode::Test);
        } else if (name == "l" || name == "list") {
            set_mode(FileMode::List);
        } else if (name == "c" || name == "stdout" || name == "to-stdout") {
            command.to_stdout = true;
        } else if (name == "f" || name == "force") {
            command.force = true;
        } else if (name == "r" || name == "recursive") {
            command.recursive = true;
        } else if (name == "k" || name == "keep") {
            command.remove_inputs = false;
        } else if (name == "rm") {
            command.remove_inputs = true;
        } else if (name == "v" || name == "verbose") {
            command.verbose = true;
            command.quiet = false;
        } else if (name == "q" || name == "quiet") {
            command.quiet = true;
            command.verbose = false;
        } else if (name == "carry") {
            carry = 1;
        } else if (name == "no-carry") {
            carry = 0;
        } else if (name == "no-verify") {
            command.options.verify = false;
        } else if (name == "no-check") {
            command.options.checksum = false;
        } else if (name == "h" || name == "help") {
            command.action = PackCommand::Action::Help;
        } else if (name == "V" || name == "version") {
            command.action = PackCommand::Action::Version;
        } else {
            return false;
        }
        return true;
    }

    // One option with a value; false (with `error`) when the value is wrong.
    bool valued(char name, const std::string& value) {
        switch (name) {
        case 's':
            if (!parse_selector(value, selector)) error = "-s takes a value 0..3, not " + value;
            break;
        case 'j':
            if (!parse_workers(value, command.workers))
                error = "-j takes a thread count 1..4096, not " + value;
            break;
        case 'o':
            if (value.empty()) error = "-o needs a file name";
            command.output = value;
            break;
        case 'C':
            if (value.empty()) error = "-C needs a directory";
            command.directory = value;
            break;
        }
        return error.empty();
    }
};

bool takes_value(char c) {
    return c == 's' || c == 'j' || c == 'o' || c == 'C';
}

const char* value_name(char c) {
    return c == 's'   ? "-s needs a value 0..3"
           : c == 'j' ? "-j needs a thread count"
           : c == 'C' ? "-C needs a directory"
                      : "-o needs a file name";
}

} // namespace

bool has_archive_suffix(const std::string& name) {
    const std::string suffix = kArchiveSuffix;
    return name.size() > suffix.size() && ends_with(name, suffix);
}

std::string restored_name(const std::string& archive) {
    if (!has_archive_suffix(archive)) return "";
    return archive.substr(0, archive.size() - std::string(kArchiveSuffix).size());
}

namespace {

// A long option: --name or --name=value. False (with the parser's error) when it is unknown or its
// value is wrong; `i` moves past a value taken from the next argument.
bool read_long_option(Parser& parser, const std::vector<std::string>& args, size_t& i) {
    const std::string& arg = args[i];
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    if (equals != std::string::npos) {
        const char short_name = name == "slots"       ? 's'
                                : name == "threads"   ? 'j'
                                : name == "output"    ? 'o'
                                : name == "directory" ? 'C'
                                                      : 0;
        if (!short_name) {
            parser.error = "unknown option " + arg;
            return false;
        }
        return parser.valued(short_name, arg.substr(equals + 1));
    }
    if (name == "output") {
        if (i + 1 == args.size()) {
            parser.error = value_name('o');
            return false;
        }
        return parser.valued('o', args[++i]);
    }
    if (!parser.flag(name)) {
        parser.error = "unknown option " + arg;
        return false;
    }
    return true;
}

// Short options, bundled as in -dcf; -s, -j and -o take the rest of the word or the next one.
bool read_short_options(Parser& parser, const std::vector<std::string>& args, size_t& i) {
    const std::string& arg = args[i];
    for (size_t k = 1; k < arg.size(); ++k) {
        const char c = arg[k];
        if (takes_value(c)) {
            std::string value = arg.substr(k + 1);
            if (value.empty()) {
                if (i + 1 == args.size()) {
                    parser.error = value_name(c);
                    return false;
                }
                value = args[++i];
            }
            return parser.valued(c, value);
        }
        if (!parser.flag(std::string(1, c))) {
            parser.error = std::string("unknown option -") + c;
            return false;
        }
    }
    return true;
}

// The options into the parser, the rest into `operands`; reading stops early at help or version.
// False (with the parser's error) at a wrong option.
bool read_arguments(Parser& parser, const std::vector<std::string>& args,
                    std::vector<std::string>& operands) {
    bool options_done = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool ok = true;
        if (options_done || arg.size() < 2 || arg[0] != '-')
            operands.push_back(arg);
        else if (arg == "--")
            options_done = true;
        else if (arg[1] == '-')
            ok = read_long_option(parser, args, i);
        else
            ok = read_short_options(parser, args, i);
        if (!ok) return false;
        if (parser.command.action != PackCommand::Action::Pack) return true;
    }
    return true;
}

// What is wrong with the options taken together, or "".
std::string combination_problem(const PackCommand& command, const std::vector<std::string>& operands,
                                bool bundle) {
    if (!command.output.empty() && operands.size() > 1 && !bundle)
        return "-o names the output of one input only";
    if (bundle && command.to_stdout) return "-c and -o name two outputs";
    if (bundle && !command.options.checksum)
        return "a bundle names its files after the end marker: leave out --no-check";
    if (bundle && command.remove_inputs) return "--rm does not go with a bundle";
    if (!command.directory.empty() && command.mode == FileMode::Pack)
        return "-C names where a bundle is restored: it goes with -d";
    if (command.remove_inputs) {
        if (command.mode == FileMode::Test || command.mode == FileMode::List)
            return "--rm has no meaning with -t or -l";
        if (command.to_stdout) return "--rm keeps inputs whose output went to standard output: leave out -c";
        if (command.mode == FileMode::Pack && !command.options.verify)
            return "--rm removes only inputs whose archive was verified: leave out --no-verify";
    }
    if (bundle)
        for (const std::string& input : operands)
            if (input == kStandardStream) return "a bundle is made of files, not standard input";
    if (command.mode == FileMode::Pack && command.output.empty() && command.to_stdout && operands.size() > 1)
        return "-c takes one input: talvo restores only the first archive of a concatenation";
    if ((command.mode == FileMode::Test || command.mode == FileMode::List) && !command.output.empty())
        return "-o has no meaning with -t or -l";
    return "";
}

// Packing jobs: one bundle, one named output, or an archive beside each input (a directory's files
// with -r). False (with `error`) when a directory cannot be listed.
bool add_pack_jobs(PackCommand& command, const std::vector<std::string>& operands, bool bundle,
                   std::string& error) {
    if (bundle) {
        command.bundle_inputs = operands;
        command.jobs.push_back(PackJob{"", command.output});
    } else if (!command.output.empty()) {
        command.jobs.push_back(PackJob{operands[0], command.output});
    } else if (command.to_stdout) {
        command.jobs.push_back(PackJob{operands[0], kStandardStream});
    } else if (operands.size() == 2 && has_archive_suffix(operands[1]) && !has_archive_suffix(operands[0])) {
        command.jobs.push_back(PackJob{operands[0], operands[1]});
    } else {
        for (const std::string& input : operands) {
            if (command.recursive && input != kStandardStream && is_directory(input)) {
                std::vector<std::string> files;
                if (!list_tree(input, files, error)) return false;
                for (const std::string& file : files) {
                    const std::string path = join_path(input, file);
                    // A directory packed again leaves its archives alone, as gzip -r does.
                    if (!has_archive_suffix(path))
                        command.jobs.push_back(PackJob{path, path + kArchiveSuffix});
                }
                continue;
            }
            command.jobs.push_back(
                PackJob{input, input == kStandardStream ? kStandardStream : input + kArchiveSuffix});
        }
    }
    return true;
}

// Restoring, testing and listing jobs: one per archive.
void add_archive_jobs(PackCommand& command, const std::vector<std::string>& operands) {
    for (const std::string& archive : operands) {
        std::string output;
        if (command.mode == FileMode::Restore) {
            output = command.output;
            if (output.empty())
                output = command.to_stdout || archive == kStandardStream ? kStandardStream
                                                                         : restored_name(archive);
        }
        command.jobs.push_back(PackJob{archive, output}); // output empty: reported when it is reached
    }
}

} // namespace

PackCommand parse_pack_command(const std::vector<std::string>& args, bool restore_by_default,
                               bool stdin_piped) {
    Parser parser;
    parser.command.options.checksum = true; // every archive carries its checksum unless --no-check
    if (restore_by_default) parser.command.mode = FileMode::Restore;
    PackCommand& command = parser.command;
    std::vector<std::string> operands;
    if (!read_arguments(parser, args, operands)) return usage(parser.error);
    if (command.action != PackCommand::Action::Pack) return command;
    if (operands.empty() && stdin_piped) operands.push_back(kStandardStream);
    if (operands.empty()) return usage("no input file");
    const bool bundle =
        command.mode == FileMode::Pack && !command.output.empty() &&
        (operands.size() > 1 || (operands[0] != kStandardStream && is_directory(operands[0])));
    const std::string problem = combination_problem(command, operands, bundle);
    if (!problem.empty()) return usage(problem);

    command.options.slot_selector = parser.selector;
    command.options.carry_over = parser.carry;
    command.options.choose_settings = parser.selector < 0 || parser.carry < 0;
    command.options.flags =
        static_cast<uint8_t>(std::max(parser.selector, 0) | (parser.carry > 0 ? kFlagsCarryOver : 0));

    if (command.mode != FileMode::Pack) {
        add_archive_jobs(command, operands);
        return command;
    }
    std::string error;
    if (!add_pack_jobs(command, operands, bundle, error)) return usage(error);
    return command;
}
