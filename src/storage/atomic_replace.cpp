// Replacing a file's contents atomically through the descriptors of its
// handle, or handing it to the in-place path where a rename cannot keep
// the file's identity.
#include "file_lock.h"
#include "new_file.h"
#include "safe_file.h"

#include <cassert>
#include <cerrno>
#include <utility>

namespace {

enum AtomicOutcome { ATOMIC_DONE, ATOMIC_FAILED, ATOMIC_NOT_POSSIBLE, ATOMIC_CANNOT_NAME };

// `exists` says the locked file exists (else it is a new file). On success
// the handle holds the new file (locked since its creation) instead.
AtomicOutcome replace_atomically(FileHandle& file, bool exists, const FilePiece* pieces,
                                 size_t count, bool allow_unnamed, int& error) {
    // A folder we may only pass through cannot be flushed after a rename.
    if (os_path_only(file.dir)) {
        error = EACCES;
        return exists ? ATOMIC_NOT_POSSIBLE : ATOMIC_FAILED;
    }
    std::string temp;
    Fd fd;
    if ((error = create_temp(file.dir, allow_unnamed, fd, temp)) != 0)
        return exists && cannot_write_folder(error) ? ATOMIC_NOT_POSSIBLE : ATOMIC_FAILED;

    // The bytes before the identity, so that a named temporary is ours (and
    // 0600) for as long as it takes to write.
    AtomicOutcome outcome = ATOMIC_FAILED;
    if ((error = os_write_pieces(fd, pieces, count)) != 0 || (error = os_flush(fd)) != 0) {
    } else if ((error = exists ? os_copy_identity(file.fd, file.name, fd)
                               : os_set_mode(fd, os_new_file_mode())) != 0) {
        outcome = exists ? ATOMIC_NOT_POSSIBLE : ATOMIC_FAILED;
    } else if (temp.empty() && (error = name_unnamed_file(fd, file.dir, temp)) != 0) {
        // Without /proc an unnamed file may not be linkable: try a named one.
        outcome = ATOMIC_CANNOT_NAME;
    } else if ((error = name_moved(file)) != 0) {
        // Whatever now stands under the name is not what we locked: leave it.
    } else if ((error = os_rename_over(file.dir, temp, fd, file.name, file.fd)) != 0) {
        // A mount point or a file bound from elsewhere cannot be renamed over.
        if (exists && (error == EBUSY || error == EXDEV)) outcome = ATOMIC_NOT_POSSIBLE;
    } else {
        temp.clear(); // it is the file now
        // The rename is only durable once the folder is flushed.
        if ((error = os_flush(file.dir)) == 0) outcome = ATOMIC_DONE;
        std::swap(file.fd, fd);
        file.write_error = 0;
        file.readable = true;
    }
    if (!temp.empty()) os_unlink(file.dir, temp);
    return outcome;
}

} // namespace

int replace_file(FileHandle& file, const FilePiece* pieces, size_t count, WriteReport& report) {
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i) total += pieces[i].length;
    if (!file.dir.valid()) return file.error;
    // Checked up front so that an over-limit file fails before anything is
    // touched (and no write ever raises SIGXFSZ).
    if (os_over_size_limit(total)) return EFBIG;
    FileInfo old;
    const bool exists = file.fd.valid();
    if (exists && file.write_error != 0) return file.write_error;
    if (exists) {
        if (int error = os_stat(file.fd, old)) return error;
    }

    remove_abandoned_temps(file.dir);
    // Another name for the same file would be split off by a rename.
    int error = 0;
    AtomicOutcome outcome = exists && old.links > 1
                                ? ATOMIC_NOT_POSSIBLE
                                : replace_atomically(file, exists, pieces, count, true, error);
    if (outcome == ATOMIC_CANNOT_NAME)
        outcome = replace_atomically(file, exists, pieces, count, false, error);
    if (outcome == ATOMIC_DONE) return 0;
    if (outcome == ATOMIC_FAILED) return error;
    assert(exists); // only a file that exists is written in place
    return replace_in_place(file, pieces, count, total, report);
}
