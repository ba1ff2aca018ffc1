// An editing session on one tileset file, with no display: the file
// resolved once and kept open, its tables loaded and arranged, the save and
// the swap list beside it. Nothing here draws or prints.
//
// Calling sequence
//
//   Session s;
//   StorageStatus status = session_open(s, path); // the lock is let go
//   if (status) {
//       Restored r = session_restore(s);          // an earlier session's rescued work
//       ... edit s.arrangement, each edit marked in its history ...
//       SaveResult saved = session_save(s);      // as often as asked
//       ... ended from outside: print session_rescue(s) ...
//       ... quit by the user: session_forget_rescue(s) ...
//   }
//   session_close(s);                            // after a failed open too
//
// Error handling
//
// Each step returns what the caller prints: storage's status (print its
// storage_message as it is) or the rescue's text. After a failed open there
// is only the close. A save that did not happen leaves the file and the
// session as they were, for the user to retry; its outcome says why, and
// its status is the one it has to show (none for a clean save).
#pragma once

#include "../arrangement/arrangement.h"
#include "../storage/file_lock.h"

#include <string>
#include <vector>

struct Session {
    std::string path; // the tileset path as given
    FileHandle file;  // its lock held only while it is read or written
    TilesetFile tileset = {};
    Arrangement arrangement = {};
    FileStamp on_disk;       // the file as opened or last saved, or as the user was told of it
    std::string swaps_path;  // TILESET.swaps, for messages
    std::string swaps_name;  // its last name, taken from swaps_folder
    Fd swaps_folder;         // the folder the tileset path's last name is in
    FileStamp swaps_written; // the .swaps this session last wrote
    // The version on disk the session last read or wrote: its stamp, the
    // CRC-32 of its packed streams, and which tile stood where in it.
    FileStamp disk_stamp;
    uint32_t disk_checksum = 0;
    std::vector<uint32_t> disk_origin;
    std::string restored; // the rescue this session took its work from
};

enum SaveOutcome {
    SAVE_HELD_TILES,      // nothing written while tiles are held
    SAVE_LOCKED,          // another program held the lock past the wait
    SAVE_CHANGED_ON_DISK, // by another program: told once, overwritten when asked again
    SAVE_FAILED,
    SAVE_DONE,
    SAVE_LIST_FAILED, // the tileset saved, its swap list not
};
struct SaveResult {
    SaveOutcome outcome = SAVE_DONE;
    StorageStatus status;
};

// Resolves and locks the tileset, then loads the streams in `mask`; the
// lock stays held.
StorageStatus session_lock_and_load(Session& s, const char* path, unsigned mask, long wait_ms);
// Info and images, waiting as long as a user would; then the arrangement.
StorageStatus session_open(Session& s, const char* path);
SaveResult session_save(Session& s);
// Work rescued from a session ended from outside lives in the caller's
// private folder as COPY (the tileset as a fill then a save would write
// it), COPY.swaps (the list that replays the file as it was on disk into
// COPY) and COPY.origin (which file, and which version of it, last). It
// never blocks a load.
//
// With the tables unsaved, writes such a rescue and returns what to print,
// ending with "The new content is kept in: COPY"; the file is left alone.
std::string session_rescue(Session& s);
enum RestoreOutcome {
    RESTORE_NONE,         // no rescue of this file
    RESTORE_DONE,         // its work is the session's unsaved edit
    RESTORE_FILE_CHANGED, // the file is no longer the version rescued; the rescue stays
};
struct Restored {
    RestoreOutcome outcome = RESTORE_NONE;
    std::string copy;
};
// Takes back the newest rescue of this file (its resolved path), as one
// edit, when the file is still the version it was rescued from.
Restored session_restore(Session& s);
// Removes the rescue the session took its work from, once that work is
// saved or the user quit.
void session_forget_rescue(Session& s);
void session_close(Session& s);
