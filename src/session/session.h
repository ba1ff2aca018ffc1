// An editing session on one tileset file, with no display: the file
// resolved once and kept open, its tables loaded and arranged, the save and
// the swap list beside it. Nothing here draws or prints.
//
// Calling sequence
//
//   Session s;
//   StorageStatus status = session_open(s, path); // the lock is let go
//   if (status) {
//       ... edit s.arrangement, each edit marked in its history ...
//       SaveResult saved = session_save(s);      // as often as asked
//       ... ended from outside: print session_rescue(s) ...
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

#include <string>

struct Session {
    std::string path; // the tileset path as given
    FileHandle file;  // its lock held only while it is read or written
    TilesetFile tileset = {};
    Arrangement arrangement = {};
    FileStamp on_disk;       // the file as opened or last saved, or as the user was told of it
    std::string swaps_path;  // TILESET.swaps, for messages
    std::string swaps_name;  // its last name, taken from swaps_folder
    int swaps_folder = -1;   // the folder the tileset path's last name is in
    FileStamp swaps_written; // the .swaps this session last wrote
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
// With the tables unsaved, a recovery copy as a fill then a save would
// write it, and its swap list beside it; the file is left alone.
std::string session_rescue(Session& s);
void session_close(Session& s);
