// Writing files safely: a new content swapped in whole, a recovery copy of
// what a save would write, and a numbered copy of an old file.
//
//   FileHandle file;
//   lock_file(path, file, LOCK_WAIT_MS);          // resolved and locked
//   WriteReport report;
//   int error = replace_file(file, pieces, count, report);
//   if (error) ...                                // strerror(error), and:
//   //   report.copy_folder: the recovery copy could not be written there;
//   //   report.kept_copy: the file may be torn, this copy holds it whole.
//
// Every function returns 0 or an errno; none leaves a half-written file or
// a temporary behind, and none writes through a name that no longer leads
// to the file the handle holds (ENOENT: gone; ESTALE: another file;
// EEXIST: a file appeared where none was).
//
// replace_file keeps the file's identity: owner, group, mode, ACL, extended
// attributes and hard links.
//   - Normally the new bytes go to a temporary file in the same folder,
//     which gets the old file's identity, is flushed, named and renamed
//     over the old one; then the folder is flushed. The handle then holds
//     the new file, still locked.
//   - When that cannot keep the identity (other hard links, owner or group
//     not settable, folder not writable, a mount point), the new bytes go
//     first to a flushed recovery copy, then over the file in place
//     through the handle. If that write fails, the copy is kept; a copy
//     left by a killed save makes the next load refuse the file. The copy
//     goes beside the file when only the caller may write its folder,
//     otherwise in the caller's private folder (below), under a name no
//     one can predict.
// A file the user could not open for writing is refused.
#pragma once

#include "resolve.h"

#include <cstdint>
#include <string>

struct WriteReport {
    std::string kept_copy;   // the complete new contents, when the file may be damaged
    std::string copy_folder; // where the recovery copy could not be written
};

// Replaces the contents of the handle's file with the pieces, in order. The
// caller holds the file's lock.
int replace_file(FileHandle& file, const FilePiece* pieces, size_t count, WriteReport& report);
// The second way of replace_file (above), for a file that exists: written
// in place behind a recovery copy. `total` is the pieces' length.
int replace_in_place(FileHandle& file, const FilePiece* pieces, size_t count, uint64_t total,
                     WriteReport& report);
// The caller's own folder for what the program keeps of their work,
// $XDG_STATE_HOME/kelbo-tool (default ~/.local/state/kelbo-tool), made
// with mode 0700 when `create` says so; refused (EACCES) when another
// user owns it. `path` is its path either way.
int open_private_folder(Fd& dir, std::string& path, bool create);
// Writes the pieces, flushed and readable by their owner only, to a new
// file in the private folder named after the handle's file, `tag` and a
// part no one can predict; report.kept_copy is its path. The file itself
// is left alone.
int keep_private_copy(const FileHandle& file, const std::string& tag, const FilePiece* pieces,
                      size_t count, WriteReport& report);
// The path of a recovery copy an interrupted in-place save of this file
// left: one of the caller's, beside the file or in the private folder,
// whose name records the file's device and inode. Empty when there is none.
std::string find_recovery_copy(const FileHandle& file);
// Copies the handle's file, at most `limit` bytes (EFBIG beyond), to a new
// file NAME.~N~ in `folder` (which may be a path descriptor), as
// cp --backup=numbered names them: N, in decimal of any length, one more
// than the highest of the caller's own such copies there, or the next
// number free. The copy has the file's permission bits and takes its name
// only once it is complete and flushed, never in place of another file.
// `number` is the last N tried, whether or not it worked.
int keep_numbered_copy(const FileHandle& file, const Fd& folder, const std::string& name,
                       uint64_t limit, std::string& number);
