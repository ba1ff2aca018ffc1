// A tileset's life in memory: load with a stream mask, save, release.
#include "tileset.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

namespace {

// The views and the save cover the full fixed info size; a shorter info
// stream is zero-padded so that neither reads past its buffer.
bool pad_info_stream(TilesetFile& t) {
    StreamSlot& slot = t.streams[STREAM_INFO];
    uint32_t need = fixed_info_size(t.version);
    uint32_t held = held_size(t, STREAM_INFO);
    if (held >= need) return true;
    uint8_t* grown = static_cast<uint8_t*>(realloc(slot.unpacked, need));
    if (!grown) return false;
    memset(grown + held, 0, need - held);
    slot.unpacked = grown;
    return true;
}

// Walks the span records without reading past the stream; returns false
// when the last record runs off the end.
bool count_span_records(const uint8_t* data, uint32_t size, uint32_t& count) {
    uint64_t pos = 0;
    count = 0;
    if (size == 0) return true;
    do {
        pos += SPAN_RECORD_HEAD;
        for (uint32_t row = 0; row < SPAN_ROWS; ++row) {
            if (pos >= size) {
                ++count; // the incomplete record still counts
                return false;
            }
            pos += 1 + 2 * uint64_t(data[pos]);
        }
        ++count;
    } while (pos < size);
    return pos == size;
}

void bind_views(TilesetFile& t) {
    StreamSlot* s = t.streams;
    if (s[STREAM_INFO].unpacked) t.info = bind_info_view(s[STREAM_INFO].unpacked, t.version);
    if (s[STREAM_IMAGE].unpacked) {
        t.images = s[STREAM_IMAGE].unpacked;
        t.image_block_count = held_size(t, STREAM_IMAGE) / IMAGE_BYTES;
        if (held_size(t, STREAM_IMAGE) % IMAGE_BYTES != 0) printf("Hmm 1\n\n");
    }
    if (s[STREAM_SPAN].unpacked) {
        t.spans = s[STREAM_SPAN].unpacked;
        if (!count_span_records(t.spans, held_size(t, STREAM_SPAN), t.span_record_count))
            printf("Hmm 2\n\n");
    }
    if (s[STREAM_BLOCK].unpacked) {
        t.blocks = s[STREAM_BLOCK].unpacked;
        t.block_count = held_size(t, STREAM_BLOCK) / BLOCK_BYTES;
        if (held_size(t, STREAM_BLOCK) % BLOCK_BYTES != 0) printf("Hmm 3\n\n");
    }
}

// Inflates the streams in `mask` and binds the views over them.
bool unpack_streams(TilesetFile& tileset, const char* path, unsigned mask) {
    for (int i = 0; i < STREAM_COUNT; ++i) {
        if (!(mask & (1u << i))) continue;
        uint8_t* data = stream_unpack(tileset, i);
        if (!data) {
            printf("An error occurred while uncompressing stream %i!\n", i);
            tileset_release(tileset);
            return false;
        }
        tileset.streams[i].unpacked = data;
    }
    if (tileset.streams[STREAM_INFO].unpacked && !pad_info_stream(tileset)) {
        printf("Out of memory while loading: %s\n", path);
        tileset_release(tileset);
        return false;
    }
    bind_views(tileset);
    return true;
}

} // namespace

uint32_t streams_checksum(const TilesetFile& tileset) {
    uLong crc = crc32(0, Z_NULL, 0);
    for (const StreamSlot& s : tileset.streams)
        if (s.packed) crc = crc32(crc, s.packed, s.packed_size);
    return uint32_t(crc);
}

bool tileset_load(TilesetFile& tileset, const FileHandle& file, unsigned mask) {
    memset(&tileset, 0, sizeof tileset);
    const char* path = file.shown.c_str();
    // A copy left by an interrupted in-place save means the file may be
    // torn: a save now would seal the damage with a fresh checksum.
    const std::string copy = find_recovery_copy(file);
    if (!copy.empty()) {
        printf("A recovery copy of this tileset exists: %s\n", copy.c_str());
        return false;
    }
    if (!read_container(file, tileset)) return false;
    // Files from elsewhere may carry a stale checksum, so this only warns.
    if (streams_checksum(tileset) != tileset.checksum)
        printf("Tileset checksum does not match its content: %s\n\n", path);
    return unpack_streams(tileset, path, mask);
}

bool tileset_load(TilesetFile& tileset, const char* path, unsigned mask) {
    memset(&tileset, 0, sizeof tileset);
    FileHandle file;
    open_file(path, file);
    bool ok = read_container(file, tileset) && unpack_streams(tileset, path, mask);
    close_file(file);
    return ok;
}

bool tileset_save(TilesetFile& tileset, FileHandle& file, std::string* copy) {
    StreamSlot* s = tileset.streams;
    if (s[STREAM_INFO].unpacked && !stream_pack(tileset, STREAM_INFO, s[STREAM_INFO].unpacked,
                                                fixed_info_size(tileset.version))) {
        // The slot is unchanged, so the caller keeps its tables for a retry.
        printf("An error occurred while compressing stream %i!\n", STREAM_INFO);
        return false;
    }

    uint64_t size = HEADER_SIZE;
    for (int i = 0; i < STREAM_COUNT; ++i) size += s[i].packed_size;
    // The header holds the size in 32 bits; a larger file would lie about it.
    if (size > UINT32_MAX) {
        print_replace_failure("Failed to save file", file.shown.c_str(),
                              ReplaceResult{false, EFBIG, {}, {}});
        return false;
    }
    tileset.checksum = streams_checksum(tileset);
    tileset.file_size = uint32_t(size);
    return write_container(file, tileset, copy);
}

bool tileset_save(TilesetFile& tileset, const char* path) {
    FileHandle file;
    int error = 0;
    bool ok = lock_file(path, file, LOCK_WAIT_MS, error);
    if (ok)
        ok = tileset_save(tileset, file);
    else
        print_replace_failure("Failed to save file", path, ReplaceResult{false, error, {}, {}});
    close_file(file);
    return ok;
}

void tileset_release(TilesetFile& tileset) {
    for (StreamSlot& s : tileset.streams) {
        free(s.unpacked);
        s.unpacked = nullptr;
    }
    for (StreamSlot& s : tileset.streams) {
        free(s.packed);
        s.packed = nullptr;
    }
    tileset.info = TileInfoView{};
    tileset.images = tileset.spans = tileset.blocks = nullptr;
}
