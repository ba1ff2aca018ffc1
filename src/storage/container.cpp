// The raw tileset container: header fields and packed streams, read and
// written byte for byte. Nothing here compresses or checks contents.
#include "tileset.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void put_u16(uint8_t* at, uint16_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
}

void put_u32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

uint16_t get_u16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }

uint32_t get_u32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

void encode_header(const TilesetFile& t, uint8_t* out) {
    memcpy(out, t.header_block, 180);
    memcpy(out + 180, t.header_tag, 4);
    memcpy(out + 184, t.header_word, 4);
    memcpy(out + 188, t.header_text, 32);
    put_u16(out + 220, t.version);
    put_u32(out + 222, t.file_size);
    put_u32(out + 226, t.checksum);
    for (int i = 0; i < STREAM_COUNT; ++i) {
        put_u32(out + 230 + 8 * i, t.streams[i].packed_size);
        put_u32(out + 234 + 8 * i, t.streams[i].unpacked_size);
    }
}

void decode_header(const uint8_t* in, TilesetFile& t) {
    memcpy(t.header_block, in, 180);
    memcpy(t.header_tag, in + 180, 4);
    memcpy(t.header_word, in + 184, 4);
    memcpy(t.header_text, in + 188, 32);
    t.version = get_u16(in + 220);
    t.file_size = get_u32(in + 222);
    t.checksum = get_u32(in + 226);
    for (int i = 0; i < STREAM_COUNT; ++i) {
        t.streams[i].packed_size = get_u32(in + 230 + 8 * i);
        t.streams[i].unpacked_size = get_u32(in + 234 + 8 * i);
        t.streams[i].packed = nullptr;
        t.streams[i].unpacked = nullptr;
    }
}

void free_packed(TilesetFile& t) {
    for (StreamSlot& s : t.streams) {
        free(s.packed);
        s.packed = nullptr;
    }
}

// A refusal of the file at `path`.
StorageStatus refused(StorageFailure failure, const char* path, int error = 0) {
    StorageStatus status;
    status.failure = failure;
    status.path = path;
    status.error = error;
    return status;
}

// Reads exactly `length` bytes, or says why not: an I/O error with its
// reason, otherwise the file ended early (`ended_early`).
StorageStatus read_exactly(int fd, uint8_t* data, size_t length, const char* path,
                           StorageFailure ended_early) {
    int64_t got = read_up_to(fd, data, length);
    if (got == int64_t(length)) return StorageStatus{};
    if (got < 0) return refused(LOAD_READ, path, errno);
    return refused(ended_early, path);
}

} // namespace

int64_t read_up_to(int fd, uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = read(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += size_t(n);
    }
    return int64_t(done);
}

StorageStatus read_container(const FileHandle& file, TilesetFile& tileset) {
    const char* path = file.shown.c_str();
    struct stat st;
    if (file.fd < 0) {
        // A missing file is no failure to open_file, which lets a save create it.
        StorageStatus status = refused(LOAD_OPEN, path, file.error ? file.error : ENOENT);
        status.not_regular = file.not_regular;
        return status;
    }
    if ((fcntl(file.fd, F_GETFL) & O_ACCMODE) == O_WRONLY)
        return refused(LOAD_OPEN, path, EACCES); // the user may write it, not read it
    if (fstat(file.fd, &st) != 0 || lseek(file.fd, 0, SEEK_SET) != 0)
        return refused(LOAD_OPEN, path, errno);
    const int fd = file.fd;
    const uint64_t size = uint64_t(st.st_size);
    // Sizes in the header are 32-bit; a longer file could not be saved back.
    if (size > UINT32_MAX) return refused(LOAD_TOO_LARGE, path);

    uint8_t header[HEADER_SIZE];
    StorageStatus status = read_exactly(fd, header, HEADER_SIZE, path, LOAD_SHORT_HEADER);
    if (!status) return status;
    TilesetFile loaded = tileset;
    decode_header(header, loaded);

    // Refuse before allocating: the sizes in the table must fit in the file.
    uint64_t promised = HEADER_SIZE;
    for (const StreamSlot& s : loaded.streams) promised += s.packed_size;
    if (promised > size) return refused(LOAD_SHORT_TABLE, path);

    for (StreamSlot& s : loaded.streams) {
        // One spare byte keeps an empty stream's buffer present.
        s.packed = static_cast<uint8_t*>(malloc(size_t(s.packed_size) + 1));
        if (!s.packed) status = refused(LOAD_OUT_OF_MEMORY, path);
    }
    // The file may have shrunk since it was measured.
    for (int i = 0; status && i < STREAM_COUNT; ++i) {
        StreamSlot& s = loaded.streams[i];
        status = read_exactly(fd, s.packed, s.packed_size, path, LOAD_SHORT_TABLE);
    }
    if (!status) {
        free_packed(loaded);
        return status;
    }
    tileset = loaded;
    status.path = path; // for what the rest of a load may report
    return status;
}

StorageStatus write_container(FileHandle& file, const TilesetFile& tileset, std::string* copy) {
    uint8_t header[HEADER_SIZE];
    encode_header(tileset, header);
    FilePiece pieces[1 + STREAM_COUNT] = {{header, HEADER_SIZE}};
    for (int i = 0; i < STREAM_COUNT; ++i) {
        const StreamSlot& s = tileset.streams[i];
        if (s.packed_size > 0 && !s.packed)
            return replace_failure(SAVE_WRITE, file.shown, ReplaceResult{false, EINVAL, {}, {}});
        pieces[1 + i] = {s.packed, s.packed_size};
    }
    ReplaceResult result = copy ? keep_recovery_copy(file, pieces, 1 + STREAM_COUNT)
                                : replace_file(file, pieces, 1 + STREAM_COUNT);
    if (!result.ok) return replace_failure(SAVE_WRITE, file.shown, result);
    if (copy) *copy = result.kept_copy;
    return StorageStatus{};
}
