// kelbo-rss-probe PROGRAM [ARGS...]: runs PROGRAM with its output discarded
// and prints its peak resident set in KiB, or -1 if it did not exit 0.
//
// Linux folds the peak of the address space an exec replaces into the new
// program's ru_maxrss, so a child forked straight from the benchmark (large
// by then) would report the benchmark's size. This probe is small, so what
// it forks reports the program's own peak. The second number printed is
// the probe's own resident size when it forked, the floor under the first.
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
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
    printf("%ld %ld\n", usage.ru_maxrss, own);
    return 0;
}
