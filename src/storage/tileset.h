// Tileset storage: the file container, stream packing, the tileset's
// lifetime in memory and the layout of its info and image streams.
//
// A tileset file is a 262-byte header and four zlib streams stored back to
// back: 0 info (palette, tile count, eight per-tile tables), 1 images
// (32 x 32 8-bit, 1024 bytes each), 2 spans and 3 blocks (carried through).
//
//   TilesetFile t = {};
//   if (tileset_load(t, path, STREAM_MASK_INFO)) {
//       t.info.word1[5] = 42;          // edit through the views
//       tileset_save(t, path);         // repack info, rewrite in place
//   }
//   tileset_release(t);
//
// Every failure prints its message to standard output and returns false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Pointers into an unpacked info stream; as valid as the buffer under them.
struct TileInfoView {
    uint8_t* palette;     // 256 x (red, green, blue, unused)
    uint32_t* tile_count; // the stored count, never changed by the program
    uint8_t* attr_a;
    uint8_t* attr_b;
    uint32_t* image_offset; // byte offset of the tile's image in stream 1
    uint32_t* word1;
    uint32_t* word2;
    uint32_t* word3;
    uint32_t* word4;
    uint32_t* word5;
};

// A tile lifted out of the tables, plus where it came from.
struct TileRecord {
    uint8_t attr_a;
    uint8_t attr_b;
    uint32_t image_offset;
    uint32_t word1;
    uint32_t word2;
    uint32_t word3;
    uint32_t word4;
    uint32_t word5;
    uint32_t origin;
};

// One stream: its stream-table entry and its buffers (absent = nullptr).
struct StreamSlot {
    uint32_t packed_size;
    uint32_t unpacked_size;
    uint8_t* packed;
    uint8_t* unpacked;
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

// --- writing files safely ---------------------------------------------------------
//
// replace_file() swaps in new contents without ever leaving a half-written
// file, and keeps the file's identity: owner, group, mode, ACL, extended
// attributes and hard links.
//   - Normally the new bytes go to an unnamed temporary file in the same
//     folder, which gets the old file's metadata, is flushed, named and
//     renamed over the old one; then the folder is flushed.
//   - When that cannot keep the identity (other hard links, owner or group
//     not settable, folder not writable, a mount point), the new bytes go
//     first to a flushed recovery copy, then over the file in place. If that
//     write fails, the copy is kept and its name reported.
// A file the user could not open for writing is refused; a symbolic link is
// followed to its target and never replaced.

// An exclusive advisory lock (flock) on the file a path names. Savers of one
// tileset take it, so that their writes happen one after the other.
struct FileLock {
    int fd = -1;
};

// Locks the file `path` names, waiting up to a minute for another holder;
// retries when the path is replaced while waiting. On failure returns false
// with `error` set (EWOULDBLOCK: still locked after the wait).
bool lock_file(const char* path, FileLock& lock, int& error);
void unlock_file(FileLock& lock);
// lock_file for a saver of a tileset: false, after printing "Tileset file is
// locked by another program: PATH", only when the wait ran out. Any other
// failure (a missing or odd file) returns true without a lock, for the load
// or save that follows to report.
bool lock_tileset(const char* path, FileLock& lock);

// Which file a path names and the version of its content: a writer that
// took no lock still changes one of these.
struct FileStamp {
    bool exists = false;
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modified_s = 0, modified_ns = 0;
};
FileStamp file_stamp(const char* path);
bool same_stamp(const FileStamp& a, const FileStamp& b);

struct FilePiece {
    const uint8_t* data;
    size_t length;
};

struct ReplaceResult {
    bool ok;
    int error;             // errno of the failure
    std::string kept_copy; // the complete new contents, when the file may be damaged
};

// Replaces the contents of `path` with the pieces, in order, holding the
// file's lock while it writes; `held` is a lock the caller already holds
// (one that took no file, as lock_tileset may leave it, counts as none).
ReplaceResult replace_file(const char* path, const FilePiece* pieces, size_t count,
                           const FileLock* held = nullptr);
// Prints "<what>: PATH (REASON)" and, if a copy was kept, where it is.
void print_replace_failure(const char* what, const char* path, const ReplaceResult& result);

// --- container: raw header and packed streams -------------------------------

// Reads the header and the four packed streams. Refuses what is not a
// regular file, a file over 4 GiB - 1, a file shorter than its stream table
// promises, and an I/O error (with its reason).
bool read_container(const char* path, TilesetFile& tileset);
// Opens `path` for reading without waiting on a FIFO or device; returns the
// descriptor, with the file's size in `size`, only for a regular file;
// otherwise -1.
int open_regular_file(const char* path, uint64_t& size);
// Reads until `length` bytes or end of file, retrying interrupted calls.
// Returns the count read, or -1 with errno set on an I/O error.
int64_t read_up_to(int fd, uint8_t* data, size_t length);
// Prints "Failed to read file: PATH (REASON)" for the errno of a failed read.
void print_read_failure(const char* path);
// Writes header and packed streams with replace_file (above): the old file
// stays intact unless the new one is complete. `held` is a lock the caller
// already holds on `path`; without one the write takes it itself.
bool write_container(const char* path, const TilesetFile& tileset, const FileLock* held = nullptr);

// --- streams and lifecycle -----------------------------------------------------

bool stream_pack(TilesetFile& tileset, int index, const uint8_t* data, uint32_t length);
// Returns the unpacked buffer (malloc'd, owned by the caller) or nullptr.
// Every stream is verified to its end as uncompress would (it must end,
// match its check value and not outgrow the table's unpacked size), and
// unpacked_size becomes its real length. Only the info stream's fixed size
// and IMAGE_STREAM_LIMIT of images are kept; the rest is inflated and
// thrown away.
uint8_t* stream_unpack(TilesetFile& tileset, int index);
// The bytes of stream `index` that its unpacked buffer holds: less than
// unpacked_size for a stream longer than its limit.
uint32_t held_size(const TilesetFile& tileset, int index);

bool tileset_load(TilesetFile& tileset, const char* path, unsigned mask);
// Repacks the info stream and rewrites the file. A failed save leaves the
// tileset loaded, so that the caller can try again.
bool tileset_save(TilesetFile& tileset, const char* path, const FileLock* held = nullptr);
void tileset_release(TilesetFile& tileset);

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
