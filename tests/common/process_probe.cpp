// A child for the process runner's tests. The first argument says what to do:
//   args ARG...   each further argument on a line of its own, as "<bytes>:<UTF-8 text>"
//   cat           standard input to standard output, then "done" to standard error
//   exit CODE     "out" to standard output, "err" to standard error, then exits with CODE
//   signal NUMBER raises the signal (POSIX)
//   sleep SECONDS sleeps, then exits with 0

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h after windows.h
#include <shellapi.h>
#endif

namespace {

// The arguments as UTF-8, on Windows split from the UTF-16 command line the way the programs under
// test split theirs.
std::vector<std::string> arguments(int argc, char** argv) {
    std::vector<std::string> texts;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), size, nullptr, nullptr);
        text.resize(text.empty() ? 0 : text.size() - 1);
        texts.push_back(text);
    }
    LocalFree(wide);
#else
    for (int i = 0; i < argc; ++i)
        texts.push_back(argv[i]);
#endif
    return texts;
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const std::vector<std::string> args = arguments(argc, argv);
    const std::string what = args.size() > 1 ? args[1] : "";
    if (what == "args") {
        for (size_t i = 2; i < args.size(); ++i)
            std::printf("%zu:%s\n", args[i].size(), args[i].c_str());
        return 0;
    }
    if (what == "cat") {
        char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
            std::fwrite(buffer, 1, got, stdout);
        std::fflush(stdout);
        std::fputs("done", stderr);
        return 0;
    }
    if (what == "exit" && args.size() > 2) {
        std::fputs("out", stdout);
        std::fputs("err", stderr);
        return std::atoi(args[2].c_str());
    }
    if (what == "signal" && args.size() > 2) {
        std::raise(std::atoi(args[2].c_str()));
        return 0;
    }
    if (what == "sleep" && args.size() > 2) {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(args[2].c_str())));
        return 0;
    }
    std::fputs("unknown command\n", stderr);
    return 2;
}
