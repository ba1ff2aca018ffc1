// The advisory lock that serialises savers of one file, and the stamp that
// notices a writer who took no lock.
#include "tileset.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Long enough for another replay of a large file to finish; short enough
// that a lock held forever by some other program cannot hang us.
constexpr long LOCK_WAIT_MS = 60 * 1000;
// A path replaced at every turn means someone keeps saving; give up then.
constexpr int MAX_REPLACED_RETRIES = 1000;

void sleep_ms(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// Opens without blocking on a FIFO and without needing read permission.
int open_for_lock(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return fd;
}

// Polls rather than blocks, so that the wait has an end.
bool wait_for_flock(int fd) {
    long waited = 0, step = 1;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || waited >= LOCK_WAIT_MS) return false;
        sleep_ms(step);
        waited += step;
        if (step < 50) step *= 2;
    }
    return true;
}

} // namespace

bool lock_file(const char* path, FileLock& lock, int& error) {
    lock.fd = -1;
    for (int attempt = 0; attempt < MAX_REPLACED_RETRIES; ++attempt) {
        int fd = open_for_lock(path);
        if (fd < 0) {
            error = errno;
            return false;
        }
        struct stat held, named;
        if (fstat(fd, &held) != 0) {
            error = errno;
            close(fd);
            return false;
        }
        if (!S_ISREG(held.st_mode)) {
            error = S_ISDIR(held.st_mode) ? EISDIR : EINVAL;
            close(fd);
            return false;
        }
        if (!wait_for_flock(fd)) {
            error = errno;
            close(fd);
            return false;
        }
        // Another saver may have renamed a new file over the path while we
        // waited; then the lock guards a file nobody will write again.
        if (stat(path, &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            lock.fd = fd;
            return true;
        }
        close(fd);
    }
    error = EWOULDBLOCK;
    return false;
}

bool lock_tileset(const char* path, FileLock& lock) {
    int error = 0;
    if (lock_file(path, lock, error) || error != EWOULDBLOCK) return true;
    printf("Tileset file is locked by another program: %s\n", path);
    return false;
}

void unlock_file(FileLock& lock) {
    if (lock.fd >= 0) close(lock.fd); // closing releases the flock
    lock.fd = -1;
}

FileStamp file_stamp(const char* path) {
    FileStamp stamp;
    struct stat st;
    if (stat(path, &st) != 0) return stamp;
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
