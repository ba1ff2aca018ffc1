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
//     left by a killed save makes the next load refuse the file.
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
// Writes the pieces as a new recovery copy of the handle's file, where and
// as an in-place save would (flushed, readable by its owner only), and
// leaves the file alone; report.kept_copy is its path. The next load of
// the file refuses it while the copy exists.
int keep_recovery_copy(const FileHandle& file, const FilePiece* pieces, size_t count,
                       WriteReport& report);
// The path of a recovery copy an interrupted in-place save of this file
// left, beside it or in $TMPDIR (default /tmp); empty when there is none.
std::string find_recovery_copy(const FileHandle& file);
// Copies the handle's file, at most `limit` bytes (EFBIG beyond), to a new
// file NAME.~N~ in `folder` (which may be a path descriptor), N one more
// than the highest such number there, as cp --backup=numbered names them.
// The copy has the file's permission bits and takes its name only once it
// is complete and flushed, never in place of another file. `number` is N
// whether or not it worked.
int keep_numbered_copy(const FileHandle& file, const Fd& folder, const std::string& name,
                       uint64_t limit, uint64_t& number);
