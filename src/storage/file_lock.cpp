// The lock that serialises savers of one file, who holds it, and the
// stamp that notices a writer who took no lock.
#include "file_lock.h"

#include <cerrno>

namespace {

// A path replaced at every turn means someone keeps saving; give up then.
constexpr int MAX_REPLACED_RETRIES = 1000;

// Polls rather than blocks, so that the wait has an end. Returns 0 or the
// errno of the last try.
int wait_for_lock(const Fd& fd, long wait_ms) {
    long waited = 0, step = 1;
    int error;
    while ((error = os_try_lock(fd)) == EWOULDBLOCK && waited < wait_ms) {
        os_sleep_ms(step);
        waited += step;
        if (step < 50) step *= 2;
    }
    return error;
}

StorageStatus locked(const FileHandle& file) {
    StorageStatus status = failed(LOCKED, file.shown);
    status.number = os_lock_holder(file.fd);
    return status;
}

} // namespace

int lock_file(const char* path, FileHandle& file, long wait_ms, const Fd* base, const char* shown,
              Fd* entry) {
    for (int attempt = 0; attempt < MAX_REPLACED_RETRIES; ++attempt) {
        if (entry) entry->reset();
        open_file(path, file, base, shown, entry);
        // A saver renamed a new file over the name between two steps of the
        // walk: walk it again.
        if (file.error == ESTALE && attempt + 1 < MAX_REPLACED_RETRIES) continue;
        if (!file.fd.valid()) return 0;
        // A file that takes no lock is saved as before.
        int error = wait_for_lock(file.fd, wait_ms);
        if (error != 0) return error == EWOULDBLOCK ? error : 0;
        // Another saver may have renamed a new file over the name while we
        // waited; then the lock guards a file nobody will write again.
        if (stamp_of_held_file(name_stamp(file), file)) return 0;
    }
    return EWOULDBLOCK;
}

StorageStatus lock_tileset(const char* path, FileHandle& file, long wait_ms, Fd* entry) {
    if (lock_file(path, file, wait_ms, nullptr, nullptr, entry) == 0) return StorageStatus{};
    StorageStatus status = locked(file);
    file = FileHandle{};
    return status;
}

StorageStatus relock_tileset(FileHandle& file, long wait_ms) {
    // No lock to be had at all: the save goes on as before.
    if (!file.fd.valid() || wait_for_lock(file.fd, wait_ms) != EWOULDBLOCK) return StorageStatus{};
    return locked(file);
}

void unlock_file(FileHandle& file) { os_unlock(file.fd); }

FileStamp name_stamp(const FileHandle& file) {
    FileStamp stamp;
    FileInfo info;
    if (!file.dir.valid() || os_stat_at(file.dir, file.name, info) != 0) return stamp;
    stamp.exists = true;
    stamp.device = info.device;
    stamp.inode = info.inode;
    stamp.size = info.size;
    stamp.modified_s = info.modified_s;
    stamp.modified_ns = info.modified_ns;
    return stamp;
}

bool same_stamp(const FileStamp& a, const FileStamp& b) {
    return a.exists == b.exists && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified_s == b.modified_s && a.modified_ns == b.modified_ns;
}

bool stamp_of_held_file(const FileStamp& stamp, const FileHandle& file) {
    FileInfo held;
    return stamp.exists && file.fd.valid() && os_stat(file.fd, held) == 0 &&
           stamp.device == held.device && stamp.inode == held.inode;
}

int name_moved(const FileHandle& file) {
    FileStamp named = name_stamp(file);
    if (!file.fd.valid()) return named.exists ? EEXIST : 0;
    if (!named.exists) return ENOENT;
    return stamp_of_held_file(named, file) ? 0 : ESTALE;
}
