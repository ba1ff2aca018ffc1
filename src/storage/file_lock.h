// The advisory lock that serialises savers of one file, and the stamp that
// notices a writer who took no lock.
//
//   FileHandle file;
//   StorageStatus status = lock_tileset(path, file, LOCK_WAIT_MS);
//   if (status) { ... load, change, save through `file` ... }
//   // LOCKED: another holder kept it past the wait; the handle is closed.
//   // The lock goes with the handle (or unlock_file).
#pragma once

#include "resolve.h"
#include "status.h"

#include <cstdint>

// How long a saver waits for another holder of a file's lock: a replay long
// enough for another replay of a large file to finish, the editor no longer
// than a user would wait for a key to answer.
constexpr long LOCK_WAIT_MS = 60 * 1000;
constexpr long INTERACTIVE_LOCK_WAIT_MS = 2 * 1000;

// open_file, then an exclusive advisory lock on the file, taken again on
// the new file when the name was replaced while we waited. Returns 0, or
// EWOULDBLOCK, the file still open, when another holder kept it past the
// wait. A file that could not be opened (or takes no lock) is returned
// unlocked with 0, for the load or save that follows to report.
int lock_file(const char* path, FileHandle& file, long wait_ms, const Fd* base = nullptr,
              const char* shown = nullptr, Fd* entry = nullptr);
// lock_file for a tileset: when the wait ran out, closes the file and
// fails with LOCKED, naming the holder when the system does.
StorageStatus lock_tileset(const char* path, FileHandle& file, long wait_ms, Fd* entry = nullptr);
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
// 0 while the handle's name still leads to the file it holds (to none, for
// a new file); otherwise why a write must not go ahead: ENOENT, ESTALE or
// EEXIST.
int name_moved(const FileHandle& file);
