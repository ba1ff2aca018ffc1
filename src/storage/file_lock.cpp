// The advisory lock that serialises savers of one file, and the stamp that
// notices a writer who took no lock.
#include "tileset.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/file.h>
#include <sys/stat.h>
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

void print_locked(const FileHandle& file) {
    printf("Tileset file is locked by another program: %s\n", file.shown.c_str());
}

} // namespace

bool lock_file(const char* path, FileHandle& file, long wait_ms, int& error, int base,
               const char* shown, int* entry) {
    for (int attempt = 0; attempt < MAX_REPLACED_RETRIES; ++attempt) {
        if (entry && *entry >= 0) close(*entry);
        if (entry) *entry = -1;
        open_file(path, file, base, shown, entry);
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

bool lock_tileset(const char* path, FileHandle& file, long wait_ms, int* entry) {
    int error = 0;
    if (lock_file(path, file, wait_ms, error, AT_FDCWD, nullptr, entry)) return true;
    print_locked(file);
    close_file(file);
    return false;
}

bool relock_tileset(FileHandle& file, long wait_ms) {
    if (file.fd < 0 || wait_for_flock(file.fd, wait_ms)) return true;
    if (errno != EWOULDBLOCK) return true; // no lock to be had: the save goes on as before
    print_locked(file);
    return false;
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
