// The advisory lock that serialises savers of one file, who holds it, and
// the stamp that notices a writer who took no lock.
#include "tileset.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A path replaced at every turn means someone keeps saving; give up then.
constexpr int MAX_REPLACED_RETRIES = 1000;

void sleep_ms(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// Polls rather than blocks, so that the wait has an end.
bool wait_for_flock(int fd, long wait_ms) {
    long waited = 0, step = 1;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || waited >= wait_ms) return false;
        sleep_ms(step);
        waited += step;
        if (step < 50) step *= 2;
    }
    return true;
}

// The process that holds a flock on the file, as /proc/locks tells it
// ("1: FLOCK ADVISORY WRITE PID MAJOR:MINOR:INODE 0 EOF"); 0 when unknown.
long lock_holder(int fd) {
    struct stat st;
    FILE* locks = fstat(fd, &st) == 0 ? fopen("/proc/locks", "re") : nullptr;
    if (!locks) return 0;
    char line[256];
    long holder = 0;
    while (holder == 0 && fgets(line, sizeof line, locks)) {
        char kind[16]; // "->" on a line of a waiter
        long pid;
        unsigned major_no, minor_no;
        unsigned long long inode;
        if (sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%llu", kind, &pid, &major_no, &minor_no,
                   &inode) == 5 &&
            strcmp(kind, "FLOCK") == 0 && major_no == major(st.st_dev) &&
            minor_no == minor(st.st_dev) && inode == st.st_ino && pid > 0)
            holder = pid;
    }
    fclose(locks);
    return holder;
}

StorageStatus locked(const FileHandle& file) {
    StorageStatus status;
    status.failure = LOCKED;
    status.path = file.shown;
    status.holder = lock_holder(file.fd);
    return status;
}

} // namespace

bool lock_file(const char* path, FileHandle& file, long wait_ms, int& error, int base,
               const char* shown, int* entry) {
    for (int attempt = 0; attempt < MAX_REPLACED_RETRIES; ++attempt) {
        if (entry && *entry >= 0) close(*entry);
        if (entry) *entry = -1;
        open_file(path, file, base, shown, entry);
        // A saver renamed a new file over the name between two steps of the
        // walk: walk it again.
        if (file.error == ESTALE && attempt + 1 < MAX_REPLACED_RETRIES) continue;
        if (file.fd < 0) return true;
        if (!wait_for_flock(file.fd, wait_ms)) {
            error = errno;
            return error != EWOULDBLOCK; // a file that takes no lock is saved as before
        }
        // Another saver may have renamed a new file over the name while we
        // waited; then the lock guards a file nobody will write again.
        if (stamp_of_held_file(name_stamp(file), file)) return true;
    }
    error = EWOULDBLOCK;
    return false;
}

StorageStatus lock_tileset(const char* path, FileHandle& file, long wait_ms, int* entry) {
    int error = 0;
    if (lock_file(path, file, wait_ms, error, AT_FDCWD, nullptr, entry)) return StorageStatus{};
    StorageStatus status = locked(file);
    close_file(file);
    return status;
}

StorageStatus relock_tileset(FileHandle& file, long wait_ms) {
    if (file.fd < 0 || wait_for_flock(file.fd, wait_ms)) return StorageStatus{};
    // No lock to be had: the save goes on as before.
    if (errno != EWOULDBLOCK) return StorageStatus{};
    return locked(file);
}

void unlock_file(FileHandle& file) {
    if (file.fd >= 0) flock(file.fd, LOCK_UN);
}

FileStamp name_stamp(const FileHandle& file) {
    FileStamp stamp;
    struct stat st;
    if (file.dir < 0 || fstatat(file.dir, file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = uint64_t(st.st_dev);
    stamp.inode = uint64_t(st.st_ino);
    stamp.size = uint64_t(st.st_size);
    stamp.modified_s = int64_t(st.st_mtim.tv_sec);
    stamp.modified_ns = int64_t(st.st_mtim.tv_nsec);
    return stamp;
}

bool same_stamp(const FileStamp& a, const FileStamp& b) {
    return a.exists == b.exists && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified_s == b.modified_s && a.modified_ns == b.modified_ns;
}

bool stamp_of_held_file(const FileStamp& stamp, const FileHandle& file) {
    struct stat st;
    return stamp.exists && file.fd >= 0 && fstat(file.fd, &st) == 0 &&
           stamp.device == uint64_t(st.st_dev) && stamp.inode == uint64_t(st.st_ino);
}
