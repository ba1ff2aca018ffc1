// The raw tileset container: header fields and packed streams, read and
// written byte for byte. Nothing here compresses or checks contents.
#include "safe_file.h"
#include "tileset.h"

#include <cerrno>
#include <cstring>

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
    }
}

// Reads exactly `length` bytes, or says why not: an I/O error with its
// reason, otherwise the file ended early (`ended_early`).
StorageStatus read_exactly(const Fd& fd, uint8_t* data, size_t length, const char* path,
                           StorageCode ended_early) {
    size_t got = 0;
    if (int error = os_read(fd, data, length, got)) return failed(LOAD_READ, path, error);
    return got == length ? StorageStatus{} : failed(ended_early, path);
}

} // namespace

StorageStatus read_container(const FileHandle& file, TilesetFile& tileset) {
    const char* path = file.shown.c_str();
    FileInfo st;
    int error = 0;
    if (!file.fd.valid()) {
        // A missing file is no failure to open_file, which lets a save create it.
        error = file.not_regular ? NOT_REGULAR : file.error ? file.error : ENOENT;
    } else if (!file.readable) {
        error = EACCES; // the user may write it, not read it
    } else if ((error = os_stat(file.fd, st)) == 0) {
        error = os_rewind(file.fd);
    }
    if (error != 0) return failed(LOAD_OPEN, path, error);
    // Sizes in the header are 32-bit; a longer file could not be saved back.
    if (st.size > UINT32_MAX) return failed(LOAD_TOO_LARGE, path);

    uint8_t header[HEADER_SIZE];
    StorageStatus status = read_exactly(file.fd, header, HEADER_SIZE, path, LOAD_SHORT_HEADER);
    if (!status) return status;
    TilesetFile loaded = {};
    decode_header(header, loaded);

    // Refuse before allocating: the sizes in the table must fit in the file.
    uint64_t promised = HEADER_SIZE;
    for (const StreamSlot& s : loaded.streams) promised += s.packed_size;
    if (promised > st.size) return failed(LOAD_SHORT_TABLE, path);

    for (StreamSlot& s : loaded.streams) {
        // One spare byte keeps an empty stream's buffer present.
        s.packed = Buffer(size_t(s.packed_size) + 1);
        if (!s.packed) return failed(LOAD_OUT_OF_MEMORY, path);
    }
    // The file may have shrunk since it was measured.
    for (int i = 0; status && i < STREAM_COUNT; ++i) {
        StreamSlot& s = loaded.streams[i];
        status = read_exactly(file.fd, s.packed, s.packed_size, path, LOAD_SHORT_TABLE);
    }
    if (!status) return status;
    tileset = std::move(loaded);
    status.path = path; // for what the rest of a load may report
    return status;
}

StorageStatus write_container(FileHandle& file, const TilesetFile& tileset, std::string* copy) {
    uint8_t header[HEADER_SIZE];
    encode_header(tileset, header);
    FilePiece pieces[1 + STREAM_COUNT] = {{header, HEADER_SIZE}};
    for (int i = 0; i < STREAM_COUNT; ++i) {
        const StreamSlot& s = tileset.streams[i];
        if (s.packed_size > 0 && !s.packed) return failed(SAVE_WRITE, file.shown, EINVAL);
        pieces[1 + i] = {s.packed, s.packed_size};
    }
    WriteReport report;
    int error = copy ? keep_private_copy(file, ".kelbo-rescue-", pieces, 1 + STREAM_COUNT, report)
                     : replace_file(file, pieces, 1 + STREAM_COUNT, report);
    if (error == 0) {
        if (copy) *copy = report.kept_copy;
        return StorageStatus{};
    }
    StorageStatus status = failed(SAVE_WRITE, file.shown, error);
    status.detail = report.copy_folder;
    status.kept_copy = report.kept_copy;
    return status;
}
