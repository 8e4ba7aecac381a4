// tarvo_bench_run: runs one command and appends its wall time, CPU time (user + system) and
// peak resident memory to a file, killing it when it outlives its bound.
//   tarvo_bench_run RESULT-FILE LIMIT-SECONDS COMMAND [ARGUMENT...]
// Appends "wall_s cpu_s maxrss_kib status"; status is the exit status, 128 + N after signal N.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double seconds(const timespec& t) {
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const long limit = argc >= 4 ? std::strtol(argv[2], &end, 10) : 0;
    if (argc < 4 || *end != '\0' || limit <= 0) {
        std::fprintf(stderr, "usage: %s RESULT-FILE LIMIT-SECONDS COMMAND [ARGUMENT...]\n",
                     argv[0]);
        return 2;
    }
    // SIGCHLD stays blocked so sigtimedwait can wait for it with a bound.
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &childSignal, &previous);

    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        execvp(argv[3], argv + 3);
        std::fprintf(stderr, "cannot run %s: %s\n", argv[3], std::strerror(errno));
        _exit(127);
    }

    int status = 0;
    rusage usage{};
    bool killed = false;
    for (;;) {
        const pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) {
            break;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double left = double(limit) - (seconds(now) - seconds(start));
        if (left <= 0 && !killed) {
            std::fprintf(stderr, "%s: %s ran longer than %ld s, killed\n", argv[0], argv[3], limit);
            kill(child, SIGKILL);
            killed = true;
        }
        const double wait = left > 1 ? 1 : (left > 0.001 ? left : 0.001);
        timespec slice{time_t(wait), long((wait - double(time_t(wait))) * 1e9)};
        sigtimedwait(&childSignal, nullptr, &slice);
    }
    timespec stop{};
    clock_gettime(CLOCK_MONOTONIC, &stop);

    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    FILE* out = std::fopen(argv[1], "a");
    if (!out) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::fprintf(out, "%.6f %.6f %ld %d\n", seconds(stop) - seconds(start),
                 seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss, exitStatus);
    std::fclose(out);
    return exitStatus;
}
