// The test helpers that ask the system: scratch folders, listings,
// standard output and child processes, on POSIX systems.
#include "test_support.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

FILE* fopen_utf8(const std::string& path, const char* mode) { return fopen(path.c_str(), mode); }

ScratchDir::ScratchDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelbo-test-XXXXXX";
    path = mkdtemp(&pattern[0]) ? pattern : std::string();
}

ScratchDir::~ScratchDir() {
    if (path.empty()) return;
    nftw(
        path.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) {
            chmod(p, 0700);
            return remove(p);
        },
        16, FTW_DEPTH | FTW_PHYS);
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> folder_entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void StdoutCapture::begin() {
    fflush(stdout);
    char name[] = "/tmp/kelbo-stdout-XXXXXX";
    int fd = mkstemp(name);
    temp_path = name;
    saved_fd = dup(1);
    dup2(fd, 1);
    close(fd);
}

std::string StdoutCapture::end() {
    fflush(stdout);
    dup2(saved_fd, 1);
    close(saved_fd);
    saved_fd = -1;
    std::string out = read_text(temp_path);
    unlink(temp_path.c_str());
    return out;
}

ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env) {
    ProcessResult result;
    char out_name[] = "/tmp/kelbo-out-XXXXXX";
    char err_name[] = "/tmp/kelbo-err-XXXXXX";
    int out_fd = mkstemp(out_name);
    int err_fd = mkstemp(err_name);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        for (const std::string& e : env) {
            size_t eq = e.find('=');
            if (eq == std::string::npos)
                unsetenv(e.c_str());
            else
                setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    // Polled rather than alarmed: the program may ignore SIGALRM.
    int status = 0;
    for (int waited_ms = 0; waitpid(pid, &status, WNOHANG) == 0; waited_ms += 10) {
        if (waited_ms >= 120000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(10000);
    }
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    close(out_fd);
    close(err_fd);
    std::vector<uint8_t> out = read_bytes(out_name), err = read_bytes(err_name);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    unlink(out_name);
    unlink(err_name);
    return result;
}
