#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_dir;

void remove_scratch() {
    if (g_dir.empty()) return;
    nftw(
        g_dir.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

} // namespace

const std::string& scratch_dir() {
    if (!g_dir.empty()) return g_dir;
    struct stat st;
    const char* tmp = getenv("TMPDIR");
    std::string base =
        stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
            ? "/dev/shm"
            : (tmp && *tmp ? tmp : "/tmp");
    std::string pattern = base + "/kelbo-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        perror("mkdtemp");
        abort();
    }
    g_dir = pattern;
    atexit(remove_scratch);
    return g_dir;
}

std::string scratch_file(const char* name) { return scratch_dir() + "/" + name; }

bool write_whole_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}
