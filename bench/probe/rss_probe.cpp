// kelbo-rss-probe PROGRAM [ARGS...]: runs PROGRAM with its output discarded
// and prints, if it exited 0, four numbers: its peak resident set in KiB,
// the probe's own resident size in KiB when it forked, the wall time in
// microseconds from before the fork to the end of the wait (the whole
// process, start-up included), and the CPU time, user and system, it used
// in microseconds. Otherwise it prints -1.
//
// Linux folds the peak of the address space an exec replaces into the new
// program's ru_maxrss, so a child forked straight from the benchmark (large
// by then) would report the benchmark's size. This probe is small, so what
// it forks reports the program's own peak; the probe's own size is the
// floor under it. Being small, it also forks quickly, which keeps the
// fork out of the whole-process times.
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long resident_kib() {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld", &kib) == 1) break;
    fclose(f);
    return kib;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: kelbo-rss-probe PROGRAM [ARGS...]\n");
        return 2;
    }
    long own = resident_kib();
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        printf("-1\n");
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    long elapsed_us = (end.tv_sec - start.tv_sec) * 1000000L + (end.tv_nsec - start.tv_nsec) / 1000;
    long cpu_us = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L +
                  usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
    printf("%ld %ld %ld %ld\n", usage.ru_maxrss, own, elapsed_us, cpu_us);
    return 0;
}
