// Tileset storage: the file container, stream packing, the tileset's
// lifetime in memory and the layout of its info and image streams.
//
// A tileset file is a 262-byte header and four zlib streams stored back to
// back: 0 info (palette, tile count, eight per-tile tables), 1 images
// (32 x 32 8-bit, 1024 bytes each), 2 spans and 3 blocks (carried through).
//
//   TilesetFile t = {};
//   StorageStatus status = tileset_load(t, path, STREAM_MASK_INFO);
//   fputs(storage_message(status).c_str(), stdout); // warnings, or why not
//   if (status) {
//       t.info.word1[5] = 42;          // edit through the views
//       status = tileset_save(t, path); // repack info, replace the file
//   }
//   tileset_release(t);
//
// Nothing here prints: every operation that can fail returns a status, and
// the caller shows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <vector>

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

// --- what an operation reports -------------------------------------------------------

enum StorageFailure {
    STORAGE_OK,
    LOAD_RECOVERY_COPY, // `detail`: the copy an interrupted in-place save left
    LOAD_OPEN,          // `error`, or not_regular
    LOAD_TOO_LARGE,
    LOAD_READ, // `error`
    LOAD_SHORT_HEADER,
    LOAD_SHORT_TABLE,
    LOAD_OUT_OF_MEMORY,
    LOAD_UNPACK,   // `stream`
    PACK_NO_INPUT, // stream_pack was given nothing
    PACK_FAILED,   // zlib failed on `stream`
    SAVE_PACK,     // the save's repack failed as `pack` says
    SAVE_WRITE,    // `error`; `detail`: where the recovery copy failed; `kept_copy`
    LIST_WRITE,    // the same for a swap list; `backup`: the old list's copy that failed
    LOCKED,        // `holder`: its process, 0 when unknown
};

enum StorageWarning {
    WARN_CHECKSUM,     // the header's checksum is not that of the streams
    WARN_IMAGE_SIZE,   // "Hmm 1": images not a whole number of 1024 bytes
    WARN_SPAN_OVERRUN, // "Hmm 2": the last span record runs off the stream
    WARN_BLOCK_SIZE,   // "Hmm 3": blocks not a whole number of 128 bytes
    WARN_INFO_EXCESS,  // the info stream is longer than its version's tables
    // Streams 1, 2 and 3 do not inflate as they must; they are carried
    // through as they are all the same.
    WARN_STREAM1_DAMAGED,
    WARN_STREAM2_DAMAGED,
    WARN_STREAM3_DAMAGED,
};

// What an operation did: the failure, if any, with what its message needs,
// and the warnings met on the way, in order. True when nothing failed.
struct [[nodiscard]] StorageStatus {
    StorageFailure failure = STORAGE_OK;
    StorageFailure pack = STORAGE_OK; // for SAVE_PACK: PACK_NO_INPUT or PACK_FAILED
    int error = 0;                    // errno
    bool not_regular = false;         // LOAD_OPEN, LIST_WRITE: the path names no regular file
    int stream = 0;
    long holder = 0;
    std::string path; // as messages show it
    std::string detail;
    std::string kept_copy; // the complete new contents, when the file may be damaged
    std::string backup;
    std::vector<StorageWarning> warnings;
    explicit operator bool() const { return failure == STORAGE_OK; }
};

// The message lines, each with its "\n", warnings first: exactly what the
// program prints for this status; empty for a clean success.
std::string storage_message(const StorageStatus& status);
// Just why it failed, as one phrase ("Permission denied", "locked by
// another program (process 12)"); empty when nothing failed.
std::string storage_reason(const StorageStatus& status);

// --- files resolved once ---------------------------------------------------------
//
// A file the program saves is resolved once: its path is walked a name at a
// time, symbolic links followed, and its folder and the file itself are
// opened. Every later read, lock, check and write goes through those
// descriptors, so that a name someone changes afterwards never redirects a
// save. In a sticky folder anyone may write (such as /tmp), a link is
// followed only when it belongs to us or to the folder's owner; another
// user's link there is refused with EACCES, whatever the kernel's own
// setting (fs.protected_symlinks).
//
//   FileHandle file;
//   if (lock_tileset(path, file, LOCK_WAIT_MS) && tileset_load(t, file, mask)) {
//       ...
//       tileset_save(t, file);  // replaces the file that was locked, or nothing
//   }
//   close_file(file);
struct FileHandle {
    int dir = -1;             // the folder holding the file; -1 when resolving failed
    int fd = -1;              // the file (read-write where allowed); -1 when it does not exist
    int error = 0;            // why resolving failed, or why the file could not be opened
    int write_error = 0;      // why fd is not open for writing; 0 when it is
    bool not_regular = false; // the path names a folder, a device or the like
    std::string name;         // the file's name in `dir`
    std::string folder;       // `dir` as a path, for messages
    std::string shown;        // the path as given, for messages
};

// Resolves `path` (a relative one from the folder `base`) and opens its
// folder and the file. A missing file is no failure: fd stays -1 and a save
// creates it, but only where the path itself names it, not at the end of a
// dangling link. Any other failure leaves dir at -1 and `error` set.
// `entry`, when given, receives the folder that holds the path's own last
// name, before a link there is followed (the caller closes it). Messages
// show `shown` (default: `path`).
void open_file(const char* path, FileHandle& file, int base = AT_FDCWD, const char* shown = nullptr,
               int* entry = nullptr);
void close_file(FileHandle& file);

// --- locks and stamps ----------------------------------------------------------------

// How long a saver waits for another holder of a file's lock: a replay long
// enough for another replay of a large file to finish, the editor no longer
// than a user would wait for a key to answer.
constexpr long LOCK_WAIT_MS = 60 * 1000;
constexpr long INTERACTIVE_LOCK_WAIT_MS = 2 * 1000;

// open_file, then an exclusive advisory lock (flock) on the file, taken
// again on the new file when the name was replaced while we waited. False
// with `error` EWOULDBLOCK, the file still open, when another holder kept it
// past the wait; a file that could not be opened (or takes no lock) is
// returned unlocked, for the load or save that follows to report.
bool lock_file(const char* path, FileHandle& file, long wait_ms, int& error, int base = AT_FDCWD,
               const char* shown = nullptr, int* entry = nullptr);
// lock_file for a tileset: when the wait ran out, closes the file and
// fails with LOCKED, naming the holder when /proc/locks does.
StorageStatus lock_tileset(const char* path, FileHandle& file, long wait_ms, int* entry = nullptr);
// Takes the lock of a tileset already open, failing as lock_tileset.
StorageStatus relock_tileset(FileHandle& file, long wait_ms);
void unlock_file(FileHandle& file);

// Which file a name leads to and the version of its content: a writer that
// took no lock still changes one of these.
struct FileStamp {
    bool exists = false;
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modified_s = 0, modified_ns = 0;
};
// What the handle's name in its folder is now (a link is not followed).
FileStamp name_stamp(const FileHandle& file);
bool same_stamp(const FileStamp& a, const FileStamp& b);
// Whether the stamp is of the file the handle holds open.
bool stamp_of_held_file(const FileStamp& stamp, const FileHandle& file);

// --- writing files safely ---------------------------------------------------------
//
// replace_file() swaps in new contents without ever leaving a half-written
// file, and keeps the file's identity: owner, group, mode, ACL, extended
// attributes and hard links. It writes nothing, and fails, when the name no
// longer leads to the file the handle holds (ENOENT: gone; ESTALE: another
// file; EEXIST: a file appeared where none was).
//   - Normally the new bytes go to an unnamed temporary file in the same
//     folder, which gets the old file's metadata, is flushed, named and
//     renamed over the old one; then the folder is flushed. The handle then
//     holds the new file, still locked.
//   - When that cannot keep the identity (other hard links, owner or group
//     not settable, folder not writable, a mount point), the new bytes go
//     first to a flushed recovery copy, then over the file in place through
//     the handle. If that write fails, the copy is kept and its name
//     reported; a copy left by a killed save makes the next load refuse.
// A file the user could not open for writing is refused.

struct FilePiece {
    const uint8_t* data;
    size_t length;
};

struct ReplaceResult {
    bool ok;
    int error;               // errno of the failure
    std::string kept_copy;   // the complete new contents, when the file may be damaged
    std::string copy_folder; // where the recovery copy could not be written
};

// Replaces the contents of the handle's file with the pieces, in order. The
// caller holds the file's lock.
ReplaceResult replace_file(FileHandle& file, const FilePiece* pieces, size_t count);
// A failed replace as a status (`failure` SAVE_WRITE or LIST_WRITE).
StorageStatus replace_failure(StorageFailure failure, const std::string& path,
                              const ReplaceResult& result);
// Copies the handle's file, at most `limit` bytes (EFBIG beyond), to a new
// file NAME.~N~ in `folder` (which may be a path descriptor), N one more
// than the highest such number there, as cp --backup=numbered names them.
// The copy has the file's permission bits and takes its name only once it
// is complete and flushed, never in place of another file. Returns 0, or
// the errno of a failure that left no copy; `number` is N either way.
int keep_numbered_copy(const FileHandle& file, int folder, const std::string& name, uint64_t limit,
                       uint64_t& number);
// The path of a recovery copy an interrupted in-place save of this file
// left, beside it or in $TMPDIR (default /tmp); empty when there is none.
std::string find_recovery_copy(const FileHandle& file);
// Writes the pieces as a new recovery copy of the handle's file, where and
// as an in-place save would (flushed, readable by its owner only), and
// leaves the file alone; its path is the result's kept_copy. The next load
// of the file refuses it while the copy exists.
ReplaceResult keep_recovery_copy(const FileHandle& file, const FilePiece* pieces, size_t count);

// --- container: raw header and packed streams -------------------------------

// Reads the header and the four packed streams through the handle. Refuses
// a file that could not be opened for reading, a file over 4 GiB - 1, a
// file shorter than its stream table promises, and an I/O error (with its
// reason).
StorageStatus read_container(const FileHandle& file, TilesetFile& tileset);
// Reads until `length` bytes or end of file, retrying interrupted calls.
// Returns the count read, or -1 with errno set on an I/O error.
int64_t read_up_to(int fd, uint8_t* data, size_t length);
// Writes header and packed streams with replace_file (above): the old file
// stays intact unless the new one is complete. With `copy`, they go to a
// new recovery copy instead (keep_recovery_copy), whose path is set there.
StorageStatus write_container(FileHandle& file, const TilesetFile& tileset,
                              std::string* copy = nullptr);

// --- streams and lifecycle -----------------------------------------------------

StorageStatus stream_pack(TilesetFile& tileset, int index, const uint8_t* data, uint32_t length);
// Returns the unpacked buffer (malloc'd, owned by the caller) or nullptr
// when the stream does not inflate as it must.
// Every stream is verified to its end as uncompress would (it must end,
// match its check value and not outgrow the table's unpacked size), and
// unpacked_size becomes its real length. Only the info stream's fixed size
// and IMAGE_STREAM_LIMIT of images are kept; the rest is inflated and
// thrown away.
uint8_t* stream_unpack(TilesetFile& tileset, int index);
// Whether stream `index` inflates as stream_unpack requires; nothing is
// kept, and memory stays bounded whatever its size.
bool stream_verify(const TilesetFile& tileset, int index);
// The bytes of stream `index` that its unpacked buffer holds: less than
// unpacked_size for a stream longer than its limit.
uint32_t held_size(const TilesetFile& tileset, int index);

// The CRC-32 a save writes in the header: of the four packed streams, in
// order.
uint32_t streams_checksum(const TilesetFile& tileset);

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
