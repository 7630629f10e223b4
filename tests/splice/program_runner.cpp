#include "program_runner.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace splice_test {
namespace {

using Path = std::filesystem::path;

std::string slurp(const Path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Path own_directory() {
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD size = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(size);
    return Path(buffer).parent_path();
#else
    std::error_code error;
    const Path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? Path() : self.parent_path();
#endif
}

#ifdef _WIN32
// Quotes one argument so that the child's CommandLineToArgvW-style parsing gives it back unchanged.
std::wstring quoted_argument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text.push_back(c);
    }
    text.append(backslashes * 2, L'\\');
    text.push_back(L'"');
    return text;
}

HANDLE inheritable_file(const Path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, TRUE};
    const HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                                      disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a capture file");
    return handle;
}

int start_and_wait(const Path& program, const std::vector<Path>& arguments, const Path& out_path,
                   const Path& err_path, const RunOptions&) {
    std::wstring command_line = quoted_argument(program.native());
    for (const auto& argument : arguments)
        command_line += L" " + quoted_argument(argument.native());

    const HANDLE in = inheritable_file(L"NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = inheritable_file(out_path, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = inheritable_file(err_path, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    const DWORD start_error = started ? 0 : GetLastError(); // before the calls below overwrite it
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) // with whatever the child (or wine, starting it) wrote before it gave up
        throw std::runtime_error("cannot start " + program.string() + " (error " +
                                 std::to_string(start_error) + "): " + slurp(err_path));
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
#else
int start_and_wait(const Path& program, const std::vector<Path>& arguments, const Path& out_path,
                   const Path& err_path, const RunOptions& options) {
    std::vector<char*> argv;
    std::string program_text = program.native();
    std::vector<std::string> texts;
    texts.reserve(arguments.size());
    for (const auto& argument : arguments)
        texts.push_back(argument.native());
    argv.push_back(program_text.data());
    for (auto& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("cannot fork");
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(125);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (options.run_as_id >= 0) {
            const auto id = static_cast<uid_t>(options.run_as_id);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(id, id, id) != 0 || ::setresuid(id, id, id) != 0)
                ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("cannot wait for the child");
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
#endif

} // namespace

Path splice_program() {
#ifdef _WIN32
    const char* name = "splice.exe";
#else
    const char* name = "splice";
#endif
    const Path beside = own_directory() / name;
    if (std::filesystem::exists(beside)) return beside;
    if (const char* bin_dir = std::getenv("PROJECT_BIN_DIR")) return Path(bin_dir) / name;
    return beside;
}

RunResult run_program(const Path& program, const std::vector<Path>& arguments, const Path& capture_dir,
                      const RunOptions& options) {
    static unsigned run_count = 0;
    const std::string stem = "run-" + std::to_string(run_count++);
    const Path out_path = capture_dir / (stem + ".out");
    const Path err_path = capture_dir / (stem + ".err");
    RunResult result;
    result.exit_code = start_and_wait(program, arguments, out_path, err_path, options);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    return result;
}

} // namespace splice_test
