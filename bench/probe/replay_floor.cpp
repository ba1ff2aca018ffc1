// kelbo-replay-floor durable|plain TILESET LIST: the least work a whole
// process replaying LIST onto TILESET has to do, for kelbo-bench to time
// beside `kelbo-tool TILESET LIST`. It reads the list (without parsing
// it) and the tileset, inflates the info stream and deflates it again at
// level 9, takes the CRC-32 of the packed streams and writes the file:
// durable, to a new file that is flushed and renamed over TILESET before
// the folder is flushed; plain, over TILESET in place. Given the replayed
// file, it packs the same tables the tool packs.
//
// Plain C calls only, linked as needed: the process maps zlib and the C
// library and nothing else. Exits 0 on success, 1 on any failure.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr size_t HEADER_SIZE = 262;
constexpr size_t STREAM_TABLE = 230;

struct Bytes {
    uint8_t* data;
    size_t size;
};

bool read_whole(const char* path, Bytes& out) {
    int fd = open(path, O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !(out.data = static_cast<uint8_t*>(malloc(st.st_size))))
        return false;
    out.size = 0;
    while (out.size < size_t(st.st_size)) {
        ssize_t n = read(fd, out.data + out.size, size_t(st.st_size) - out.size);
        if (n <= 0) break;
        out.size += size_t(n);
    }
    return close(fd) == 0 && out.size == size_t(st.st_size);
}

uint32_t u32_at(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool write_durably(const char* path, const iovec* parts, size_t total) {
    size_t length = strlen(path);
    char* temp = static_cast<char*>(malloc(length + 5));
    memcpy(temp, path, length);
    memcpy(temp + length, ".new", 5);
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0 && writev(fd, parts, 3) == ssize_t(total) && fsync(fd) == 0;
    if (fd >= 0 && close(fd) != 0) ok = false;
    ok = ok && rename(temp, path) == 0;
    free(temp);
    const char* slash = strrchr(path, '/');
    char* folder = slash ? strndup(path, size_t(slash - path) + 1) : strdup(".");
    int dir = open(folder, O_RDONLY | O_DIRECTORY);
    ok = ok && dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
    free(folder);
    return ok;
}

bool write_in_place(const char* path, const iovec* parts, size_t total) {
    int fd = open(path, O_WRONLY | O_TRUNC);
    bool ok = fd >= 0 && writev(fd, parts, 3) == ssize_t(total);
    return fd >= 0 && close(fd) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 1;
    const bool durable = strcmp(argv[1], "durable") == 0;
    Bytes list = {}, file = {};
    if (!read_whole(argv[3], list) || !read_whole(argv[2], file) || file.size < HEADER_SIZE)
        return 1;
    const uLong info_packed = u32_at(file.data + STREAM_TABLE);
    uLongf info_size = u32_at(file.data + STREAM_TABLE + 4);
    if (info_packed > file.size - HEADER_SIZE) return 1;
    uint8_t* info = static_cast<uint8_t*>(malloc(info_size));
    if (!info || uncompress(info, &info_size, file.data + HEADER_SIZE, info_packed) != Z_OK)
        return 1;

    uLongf packed_size = compressBound(info_size);
    uint8_t* packed = static_cast<uint8_t*>(malloc(packed_size));
    if (!packed || compress2(packed, &packed_size, info, info_size, 9) != Z_OK) return 1;
    const uint8_t* rest = file.data + HEADER_SIZE + info_packed;
    const size_t rest_size = file.size - HEADER_SIZE - info_packed;
    uLong crc = crc32(crc32(0, Z_NULL, 0), packed, uInt(packed_size));
    crc = crc32(crc, rest, uInt(rest_size));
    for (int i = 0; i < 4; ++i) file.data[226 + i] = uint8_t(crc >> (8 * i));

    const iovec parts[3] = {
        {file.data, HEADER_SIZE}, {packed, packed_size}, {const_cast<uint8_t*>(rest), rest_size}};
    const size_t total = HEADER_SIZE + packed_size + rest_size;
    bool ok =
        durable ? write_durably(argv[2], parts, total) : write_in_place(argv[2], parts, total);
    free(packed);
    free(info);
    free(file.data);
    free(list.data);
    return ok ? 0 : 1;
}
