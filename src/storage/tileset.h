// The tileset file: its format, and its load and save.
//
// A tileset file is a 262-byte header and four zlib streams stored back to
// back: 0 info (palette, tile count, eight per-tile tables), 1 images
// (32 x 32 8-bit, 1024 bytes each), 2 spans and 3 blocks (carried through).
//
//   FileHandle file;
//   TilesetFile t = {};
//   StorageStatus status = lock_tileset(path, file, LOCK_WAIT_MS);
//   if (status) status = tileset_load(t, file, STREAM_MASK_INFO);
//   fputs(load_message(status).c_str(), stdout); // warnings, or why not
//   if (status) {
//       t.info.word1[5] = 42;                    // edit through the views
//       status = tileset_save(t, file);          // repack info, replace the file
//   }
//   // The buffers go with `t`, the descriptors and the lock with `file`.
//
// Nothing here prints: every operation that can fail returns a status, and
// the caller shows it.
#pragma once

#include "resolve.h"
#include "status.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

constexpr uint32_t HEADER_SIZE = 262;
constexpr uint16_t LARGE_LAYOUT_VERSION = 0x0201;
constexpr uint32_t SMALL_CAPACITY = 1024;
constexpr uint32_t LARGE_CAPACITY = 4096;
constexpr uint32_t IMAGE_BYTES = 1024; // one 32 x 32 image
constexpr uint32_t IMAGE_SIDE = 32;
constexpr uint32_t PALETTE_BYTES = 1024;
constexpr uint32_t TABLES_OFFSET = 1028; // palette + tile_count
constexpr uint32_t SPAN_RECORD_HEAD = 128;
constexpr uint32_t SPAN_ROWS = 32;
constexpr uint32_t BLOCK_BYTES = 128;
// The most of the image stream a load keeps; images past it are treated
// like images past the stream's end.
constexpr uint32_t IMAGE_STREAM_LIMIT = 64u << 20;

constexpr int STREAM_COUNT = 4;
enum StreamIndex { STREAM_INFO = 0, STREAM_IMAGE = 1, STREAM_SPAN = 2, STREAM_BLOCK = 3 };
enum StreamMask : unsigned {
    STREAM_MASK_INFO = 1,
    STREAM_MASK_IMAGE = 2,
    STREAM_MASK_SPAN = 4,
    STREAM_MASK_BLOCK = 8,
};

// The eight per-tile tables, in the order the info stream stores them; this
// one list makes the views, the records and every operation on a tile.
#define TILE_FIELDS(X)                                                                             \
    X(uint8_t, attr_a)                                                                             \
    X(uint8_t, attr_b)                                                                             \
    X(uint32_t, image_offset) /* byte offset of the tile's image in stream 1 */                    \
    X(uint32_t, word1)                                                                             \
    X(uint32_t, word2)                                                                             \
    X(uint32_t, word3)                                                                             \
    X(uint32_t, word4)                                                                             \
    X(uint32_t, word5)

// Pointers into an unpacked info stream; as valid as the buffer under them.
struct TileInfoView {
    uint8_t* palette;     // 256 x (red, green, blue, unused)
    uint32_t* tile_count; // the stored count, never changed by the program
#define TILE_TABLE(type, name) type* name;
    TILE_FIELDS(TILE_TABLE)
#undef TILE_TABLE
};

// A tile lifted out of the tables, plus where it came from.
struct TileRecord {
#define TILE_ENTRY(type, name) type name;
    TILE_FIELDS(TILE_ENTRY)
#undef TILE_ENTRY
    uint32_t origin;
};

// Owns a malloc'd buffer (so that it can grow in place), and reads as its
// pointer.
struct Buffer {
    uint8_t* data = nullptr;
    Buffer() = default;
    explicit Buffer(size_t size) : data(static_cast<uint8_t*>(malloc(size))) {}
    Buffer(Buffer&& other) noexcept : data(other.data) { other.data = nullptr; }
    Buffer& operator=(Buffer&& other) noexcept {
        std::swap(data, other.data);
        return *this;
    }
    ~Buffer() { free(data); }
    operator uint8_t*() const& { return data; }
    operator uint8_t*() && = delete; // a temporary's pointer would dangle
    // Grows or shrinks it; false, leaving it as it was, without the memory.
    bool resize(size_t size);
};

// One stream: its stream-table entry and its buffers (absent = null).
struct StreamSlot {
    uint32_t packed_size;
    uint32_t unpacked_size;
    Buffer packed;
    Buffer unpacked;
};

struct TilesetFile {
    uint8_t header_block[180];
    uint8_t header_tag[4];
    uint8_t header_word[4];
    uint8_t header_text[32];
    uint16_t version;
    uint32_t file_size;
    uint32_t checksum;
    StreamSlot streams[STREAM_COUNT];

    TileInfoView info; // bound when stream 0 is unpacked
    uint8_t* images;   // views of streams 1, 2, 3 when unpacked
    uint8_t* spans;
    uint8_t* blocks;
    uint32_t image_block_count;
    uint32_t span_record_count;
    uint32_t block_count;
};

// --- load and save -------------------------------------------------------------

// Loads through a handle (the program's own forms do): refuses a file for
// which a recovery copy exists, since an in-place save was interrupted and
// the file may be torn; warns when the header's checksum does not match
// the streams, then inflates the streams in `mask`. It warns too of an info
// stream longer than its version's tables (a save drops the rest) and,
// when the checksum does not match or with `verify_all`, of each of
// streams 1-3 outside `mask` that does not inflate.
StorageStatus tileset_load(TilesetFile& tileset, const FileHandle& file, unsigned mask,
                           bool verify_all = false);
// Reads the file at `path` as it stands, without the recovery copy check,
// and without the checksum warning: the other warnings stand.
StorageStatus tileset_load(TilesetFile& tileset, const char* path, unsigned mask);
// Repacks the info stream and replaces the handle's file (the caller holds
// its lock). A failed save leaves the tileset loaded, so that the caller
// can try again. With `copy`, the file is left alone and what would have
// been saved goes to a new recovery copy of it, whose path is set there.
StorageStatus tileset_save(TilesetFile& tileset, FileHandle& file, std::string* copy = nullptr);
// The same for `path`, resolved and locked for the time of the save.
StorageStatus tileset_save(TilesetFile& tileset, const char* path);
// Frees the buffers; the tileset is as new.
void tileset_release(TilesetFile& tileset);

// --- container: raw header and packed streams -------------------------------

// Reads the header and the four packed streams through the handle. Refuses
// a file that could not be opened for reading, a file over 4 GiB - 1, a
// file shorter than its stream table promises, and an I/O error (with its
// reason).
StorageStatus read_container(const FileHandle& file, TilesetFile& tileset);
// Writes header and packed streams with replace_file: the old file stays
// intact unless the new one is complete. With `copy`, they go to a new
// private copy instead (keep_private_copy), whose path is set there.
StorageStatus write_container(FileHandle& file, const TilesetFile& tileset,
                              std::string* copy = nullptr);

// --- streams -----------------------------------------------------------------

StorageStatus stream_pack(TilesetFile& tileset, int index, const uint8_t* data, uint32_t length);
// Returns the unpacked buffer, or none when the stream does not inflate as
// it must. Every stream is verified to its end as uncompress would (it
// must end, match its check value and not outgrow the table's unpacked
// size), and unpacked_size becomes its real length. Only the info stream's
// fixed size and IMAGE_STREAM_LIMIT of images are kept; the rest is
// inflated and thrown away.
Buffer stream_unpack(TilesetFile& tileset, int index);
// Whether stream `index` inflates as stream_unpack requires; nothing is
// kept, and memory stays bounded whatever its size.
bool stream_verify(const TilesetFile& tileset, int index);
// The bytes of stream `index` that its unpacked buffer holds: less than
// unpacked_size for a stream longer than its limit.
uint32_t held_size(const TilesetFile& tileset, int index);
// The CRC-32 a save writes in the header: of the four packed streams, in
// order.
uint32_t streams_checksum(const TilesetFile& tileset);

// --- info stream layout ------------------------------------------------------------

uint32_t capacity_for(uint16_t version);
uint32_t fixed_info_size(uint16_t version);
TileInfoView bind_info_view(uint8_t* info_buffer, uint16_t version);

// The positions the program may touch: the stored tile count, but never more
// than the tables hold. Zero when the info stream is not unpacked.
uint32_t usable_tile_count(const TilesetFile& tileset);

TileRecord tile_to_record(const TileInfoView& info, uint32_t i, uint32_t origin_value);
void record_to_tile(const TileInfoView& info, const TileRecord& record, uint32_t i);
void swap_tables(const TileInfoView& info, uint32_t a, uint32_t b);
// Whether two records hold the same eight entries (origins aside).
bool same_entries(const TileRecord& x, const TileRecord& y);
