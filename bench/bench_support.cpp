#include "bench_support.h"

#include "sample_tileset.h"
#include "tileset.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_dir;

void remove_dir() {
    if (g_dir.empty()) return;
    nftw(
        g_dir.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

uint32_t get_u32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

BenchFiles make_files() {
    BenchFiles f;
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelbo-bench-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        perror("mkdtemp");
        exit(1);
    }
    f.dir = g_dir = pattern;
    atexit(remove_dir);

    f.large = make_sample_tileset(true);
    f.large_path = f.file("large.tileset");
    // Reversal: a permutation touching every position, the longest list a
    // large tileset can have.
    std::string list;
    for (uint32_t to = 0; to < LARGE_CAPACITY; ++to)
        list += std::to_string(LARGE_CAPACITY - 1 - to) + " " + std::to_string(to) + "\n";
    f.list_path = f.file("reverse.swaps");
    if (!write_file_bytes(f.large_path, f.large) ||
        !write_file_bytes(f.list_path, std::vector<uint8_t>(list.begin(), list.end()))) {
        printf("Failed to write the benchmark files in %s\n", f.dir.c_str());
        exit(1);
    }
    return f;
}

} // namespace

const BenchFiles& bench_files() {
    static const BenchFiles files = make_files();
    return files;
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return bytes;
    struct stat st;
    if (fstat(fd, &st) == 0) {
        bytes.resize(size_t(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        bytes.resize(done);
    }
    close(fd);
    return bytes;
}

bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    return close(fd) == 0 && done == bytes.size();
}

uint16_t header_version(const uint8_t* file) { return uint16_t(file[220] | file[221] << 8); }
uint32_t stream_packed_size(const uint8_t* file, int index) {
    return get_u32(file + 230 + 8 * index);
}
uint32_t stream_unpacked_size(const uint8_t* file, int index) {
    return get_u32(file + 234 + 8 * index);
}
