#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
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
    std::vector<uint8_t> bytes = read_bytes(temp_path);
    unlink(temp_path.c_str());
    return std::string(bytes.begin(), bytes.end());
}

ProcessResult run_process(const std::vector<std::string>& argv) {
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
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
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

uint32_t read_u32_le(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
           uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
}
