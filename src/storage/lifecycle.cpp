// A tileset's life in memory: load with a stream mask, save, release.
#include "file_lock.h"
#include "safe_file.h"
#include "tileset.h"

#include <cerrno>
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
    if (!slot.unpacked.resize(need)) return false;
    memset(slot.unpacked + held, 0, need - held);
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

void bind_views(TilesetFile& t, std::vector<StorageWarning>& warnings) {
    auto warn = [&](StorageCode code) { warnings.push_back({code, 0}); };
    StreamSlot* s = t.streams;
    if (s[STREAM_INFO].unpacked) t.info = bind_info_view(s[STREAM_INFO].unpacked, t.version);
    if (s[STREAM_IMAGE].unpacked) {
        t.images = s[STREAM_IMAGE].unpacked;
        t.image_block_count = held_size(t, STREAM_IMAGE) / IMAGE_BYTES;
        if (held_size(t, STREAM_IMAGE) % IMAGE_BYTES != 0) warn(WARN_IMAGE_SIZE);
    }
    if (s[STREAM_SPAN].unpacked) {
        t.spans = s[STREAM_SPAN].unpacked;
        if (!count_span_records(t.spans, held_size(t, STREAM_SPAN), t.span_record_count))
            warn(WARN_SPAN_OVERRUN);
    }
    if (s[STREAM_BLOCK].unpacked) {
        t.blocks = s[STREAM_BLOCK].unpacked;
        t.block_count = held_size(t, STREAM_BLOCK) / BLOCK_BYTES;
        if (held_size(t, STREAM_BLOCK) % BLOCK_BYTES != 0) warn(WARN_BLOCK_SIZE);
    }
}

// Inflates the streams in `mask` and binds the views over them; the
// tileset is released when that fails. With `verify`, streams 1-3 outside
// the mask are inflated too, and each that fails is named.
void unpack_streams(TilesetFile& tileset, unsigned mask, bool verify, StorageStatus& status) {
    for (int i = 0; i < STREAM_COUNT; ++i) {
        if (!(mask & (1u << i))) continue;
        Buffer data = stream_unpack(tileset, i);
        if (!data) {
            status.code = LOAD_UNPACK;
            status.number = i;
            tileset_release(tileset);
            return;
        }
        tileset.streams[i].unpacked = std::move(data);
    }
    // A save packs only the version's tables: whatever lies past them goes.
    if (tileset.streams[STREAM_INFO].unpacked &&
        tileset.streams[STREAM_INFO].unpacked_size > fixed_info_size(tileset.version))
        status.warnings.push_back({WARN_INFO_EXCESS, 0});
    for (int i = STREAM_IMAGE; verify && i < STREAM_COUNT; ++i)
        if (!(mask & (1u << i)) && !stream_verify(tileset, i))
            status.warnings.push_back({WARN_STREAM_DAMAGED, i});
    if (tileset.streams[STREAM_INFO].unpacked && !pad_info_stream(tileset)) {
        status.code = LOAD_OUT_OF_MEMORY;
        tileset_release(tileset);
        return;
    }
    bind_views(tileset, status.warnings);
}

} // namespace

uint32_t streams_checksum(const TilesetFile& tileset) {
    uLong crc = crc32(0, Z_NULL, 0);
    for (const StreamSlot& s : tileset.streams)
        if (s.packed) crc = crc32(crc, s.packed, s.packed_size);
    return uint32_t(crc);
}

StorageStatus tileset_load(TilesetFile& tileset, const FileHandle& file, unsigned mask,
                           bool verify_all) {
    tileset = TilesetFile{};
    // A copy left by an interrupted in-place save means the file may be
    // torn: a save now would seal the damage with a fresh checksum.
    const std::string copy = find_recovery_copy(file);
    if (!copy.empty()) {
        StorageStatus status = failed(LOAD_RECOVERY_COPY, file.shown);
        status.detail = copy;
        return status;
    }
    StorageStatus status = read_container(file, tileset);
    if (!status) return status;
    // Files from elsewhere may carry a stale checksum, so this only warns;
    // but then nothing vouches for the streams a save carries through, and
    // those that are damaged are named.
    const bool stale = streams_checksum(tileset) != tileset.checksum;
    if (stale) status.warnings.push_back({WARN_CHECKSUM, 0});
    unpack_streams(tileset, mask, stale || verify_all, status);
    return status;
}

StorageStatus tileset_load(TilesetFile& tileset, const char* path, unsigned mask) {
    tileset = TilesetFile{};
    FileHandle file;
    open_file(path, file);
    StorageStatus status = read_container(file, tileset);
    if (status)
        unpack_streams(tileset, mask, streams_checksum(tileset) != tileset.checksum, status);
    return status;
}

StorageStatus tileset_save(TilesetFile& tileset, FileHandle& file, std::string* copy) {
    StreamSlot* s = tileset.streams;
    if (s[STREAM_INFO].unpacked) {
        StorageStatus packed = stream_pack(tileset, STREAM_INFO, s[STREAM_INFO].unpacked,
                                           fixed_info_size(tileset.version));
        // The slot is unchanged, so the caller keeps its tables for a retry.
        if (!packed) {
            packed.code = packed.code == PACK_NO_INPUT ? SAVE_PACK_NO_INPUT : SAVE_PACK_FAILED;
            packed.path = file.shown;
            return packed;
        }
    }

    uint64_t size = HEADER_SIZE;
    for (int i = 0; i < STREAM_COUNT; ++i) size += s[i].packed_size;
    // The header holds the size in 32 bits; a larger file would lie about it.
    if (size > UINT32_MAX) return failed(SAVE_WRITE, file.shown, EFBIG);
    tileset.checksum = streams_checksum(tileset);
    tileset.file_size = uint32_t(size);
    return write_container(file, tileset, copy);
}

StorageStatus tileset_save(TilesetFile& tileset, const char* path) {
    FileHandle file;
    StorageStatus status = lock_tileset(path, file, LOCK_WAIT_MS);
    return status ? tileset_save(tileset, file) : status;
}

void tileset_release(TilesetFile& tileset) { tileset = TilesetFile{}; }
