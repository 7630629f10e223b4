// mplg: reads the performance logs (MPLG files) that mvcore writes.
//   mplg dump LOG            every record as a line
//   mplg stats LOG           a table of statistics
//   mplg trace LOG OUT.json  Chrome Trace Event format for Perfetto / chrome://tracing
#include "commands.h"
#include "log_reader.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

namespace {

int Usage() {
    std::cerr << "usage: mplg dump LOG\n"
                 "       mplg stats LOG\n"
                 "       mplg trace LOG OUT.json\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const bool trace = command == "trace";
    if ((trace && argc != 4) || (!trace && argc != 3) ||
        (command != "dump" && command != "stats" && !trace)) {
        return Usage();
    }
    mplg::Log log;
    std::string error;
    if (!mplg::ReadLog(argv[2], log, error)) {
        std::cerr << "mplg: error: " << error << "\n";
        return 1;
    }
    if (!log.warning.empty()) std::cerr << "mplg: warning: " << log.warning << "\n";
    if (command == "dump") {
        mplg::Dump(log, std::cout);
    } else if (command == "stats") {
        mplg::Stats(log, std::cout);
    } else {
        std::ofstream out(argv[3], std::ios::binary);
        if (!out) {
            std::cerr << "mplg: error: cannot write '" << argv[3] << "'\n";
            return 1;
        }
        mplg::Trace(log, out);
        out.close();
        if (!out) {
            std::cerr << "mplg: error: writing '" << argv[3] << "' failed\n";
            return 1;
        }
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
