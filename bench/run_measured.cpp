// Runs a command several times and prints what one run costs, for the shell benchmarks: the best wall
// and CPU time of the runs (user + system, to the microsecond, where /usr/bin/time gives hundredths),
// the largest peak resident set and the fewest minor page faults.
//
// Usage: bench_run_measured [-r FILE] ROUNDS COMMAND [ARGS...]
// Prints "wall_s cpu_s peak_kb minor_faults"; the command's output goes to /dev/null. Exits 1 when a
// run fails. -r removes FILE before every run (not timed), so that a command that writes FILE creates it
// afresh each time instead of truncating the last run's (which costs the file system milliseconds).

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
int main() {
    std::fputs("bench_run_measured: Linux only\n", stderr);
    return 2;
}
#else
#include <algorithm>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    const char* remove_first = nullptr;
    if (argc > 2 && std::strcmp(argv[1], "-r") == 0) {
        remove_first = argv[2];
        argc -= 2;
        argv += 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[1]) : 0;
    if (rounds < 1) {
        std::fputs("usage: bench_run_measured [-r FILE] ROUNDS COMMAND [ARGS...]\n", stderr);
        return 2;
    }
    double best_wall = 1e300, best_cpu = 1e300;
    long peak_kb = 0, fewest_faults = -1;
    for (int round = 0; round < rounds; ++round) {
        if (remove_first) unlink(remove_first);
        const double start = now();
        const pid_t child = fork();
        if (child < 0) return 1;
        if (child == 0) {
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0) {
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
            }
            execvp(argv[2], argv + 2);
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (wait4(child, &status, 0, &usage) != child) return 1;
        const double wall = now() - start;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "bench_run_measured: %s failed\n", argv[2]);
            return 1;
        }
        best_wall = std::min(best_wall, wall);
        best_cpu = std::min(best_cpu, seconds(usage.ru_utime) + seconds(usage.ru_stime));
        peak_kb = std::max(peak_kb, usage.ru_maxrss);
        fewest_faults = fewest_faults < 0 ? usage.ru_minflt : std::min(fewest_faults, usage.ru_minflt);
    }
    std::printf("%.6f %.6f %ld %ld\n", best_wall, best_cpu, peak_kb, fewest_faults);
    return 0;
}
#endif
