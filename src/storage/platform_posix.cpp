// The platform seam on Linux: descriptors relative to folders, O_PATH and
// O_TMPFILE, flock, and the ACL and extended attribute libraries.
#include "platform.h"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

int fd_of(const Fd* folder) { return folder ? int(folder->value) : AT_FDCWD; }
int fd_of(const Fd& fd) { return int(fd.value); }

// The result of a call that returns -1 and sets errno on failure.
int result(long r) { return r < 0 ? errno : 0; }

void fill(const struct stat& st, FileInfo& out) {
    out.kind = S_ISREG(st.st_mode)   ? KIND_REGULAR
               : S_ISDIR(st.st_mode) ? KIND_FOLDER
               : S_ISLNK(st.st_mode) ? KIND_LINK
                                     : KIND_OTHER;
    out.mode = st.st_mode & 07777;
    out.owner = st.st_uid;
    out.group = st.st_gid;
    out.device = uint64_t(st.st_dev);
    out.inode = uint64_t(st.st_ino);
    out.size = uint64_t(st.st_size);
    out.links = uint64_t(st.st_nlink);
    out.modified_s = int64_t(st.st_mtim.tv_sec);
    out.modified_ns = int64_t(st.st_mtim.tv_nsec);
}

int write_at(int fd, const uint8_t* data, size_t left, off_t at) {
    while (left > 0) {
        ssize_t n = pwrite(fd, data, left, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        data += n;
        left -= size_t(n);
        at += n;
    }
    return 0;
}

} // namespace

const char OS_SEPARATORS[] = "/";
const char OS_LINE_END[] = "\n";
size_t os_root_length(const std::string& path) { return path.empty() || path[0] != '/' ? 0 : 1; }

void Fd::reset() {
    if (value >= 0) close(int(value)); // closing also releases a lock
    value = -1;
}

int os_open(const Fd* folder, const std::string& name, OpenHow how, Fd& out) {
    const int file = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int flags = 0;
    switch (how) {
    case OPEN_NAME: flags = O_PATH | O_NOFOLLOW | O_CLOEXEC; break;
    case OPEN_FOLDER: flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC; break;
    case OPEN_READ: flags = O_RDONLY | file; break;
    case OPEN_READ_PATH: flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC; break;
    case OPEN_WRITE: flags = O_WRONLY | file; break;
    case OPEN_READ_WRITE: flags = O_RDWR | file; break;
    case OPEN_NEW: flags = O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC; break;
    case OPEN_UNNAMED: flags = O_TMPFILE | O_RDWR | O_CLOEXEC; break;
    }
    int fd = openat(fd_of(folder), name.c_str(), flags, 0600);
    if (fd < 0) return errno;
    out = Fd(fd);
    return 0;
}

bool os_path_only(const Fd& fd) { return (fcntl(fd_of(fd), F_GETFL) & O_PATH) != 0; }

int os_stat(const Fd& fd, FileInfo& out) {
    struct stat st;
    return fstat(fd_of(fd), &st) != 0 ? errno : (fill(st, out), 0);
}

int os_stat_at(const Fd& folder, const std::string& name, FileInfo& out) {
    struct stat st;
    return fstatat(fd_of(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ? errno
                                                                               : (fill(st, out), 0);
}

int os_read_link(const Fd& link, std::string& target) {
    char text[PATH_MAX];
    ssize_t n = readlinkat(fd_of(link), "", text, sizeof text);
    if (n < 0) return errno;
    if (size_t(n) == sizeof text) return ENAMETOOLONG;
    target.assign(text, size_t(n));
    return 0;
}

int os_list(const Fd& folder, std::vector<std::string>& names) {
    int listing = fcntl(fd_of(folder), F_DUPFD_CLOEXEC, 0);
    DIR* d = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!d) {
        int error = errno;
        if (listing >= 0) close(listing);
        return error;
    }
    names.clear();
    while (dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    return 0;
}

int os_read(const Fd& fd, uint8_t* data, size_t length, size_t& got) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = read(fd_of(fd), data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        done += size_t(n);
    }
    got = done;
    return 0;
}

int os_rewind(const Fd& fd) { return result(lseek(fd_of(fd), 0, SEEK_SET)); }

int os_write_pieces(const Fd& fd, const FilePiece* pieces, size_t count) {
    off_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        if (int error = write_at(fd_of(fd), pieces[i].data, pieces[i].length, at)) return error;
        at += off_t(pieces[i].length);
    }
    return 0;
}

int os_truncate(const Fd& fd, uint64_t size) { return result(ftruncate(fd_of(fd), off_t(size))); }

static_assert(sizeof(sigset_t) <= sizeof(EndingsHeld::saved), "the signal mask fits");

void os_hold_endings(EndingsHeld& held) {
    sigset_t stop;
    sigemptyset(&stop);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, sig);
    sigprocmask(SIG_BLOCK, &stop, reinterpret_cast<sigset_t*>(held.saved));
}

void os_release_endings(const EndingsHeld& held) {
    sigprocmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(held.saved), nullptr);
}

int os_flush(const Fd& fd) {
    int error = result(fsync(fd_of(fd)));
    return error == EINVAL ? 0 : error;
}

int os_reserve(const Fd& fd, uint64_t size) {
    return result(fallocate(fd_of(fd), FALLOC_FL_KEEP_SIZE, 0, off_t(size)));
}

bool os_over_size_limit(uint64_t size) {
    struct rlimit limit;
    return getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
           size > uint64_t(limit.rlim_cur);
}

int os_rename_over(const Fd& folder, const std::string& from, Fd&, const std::string& to, Fd&) {
    return result(renameat(fd_of(folder), from.c_str(), fd_of(folder), to.c_str()));
}

int os_link(const Fd& folder, const std::string& from, const std::string& to) {
    return result(linkat(fd_of(folder), from.c_str(), fd_of(folder), to.c_str(), 0));
}

int os_link_unnamed(const Fd& file, const Fd& folder, const std::string& to) {
    // Through /proc without privileges; AT_EMPTY_PATH where /proc is absent.
    char proc_path[64];
    snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd_of(file));
    if (linkat(AT_FDCWD, proc_path, fd_of(folder), to.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno == EEXIST) return EEXIST;
    return result(linkat(fd_of(file), "", fd_of(folder), to.c_str(), AT_EMPTY_PATH));
}

int os_unlink(const Fd& folder, const std::string& name) {
    return result(unlinkat(fd_of(folder), name.c_str(), 0));
}

int os_make_folder(const Fd* folder, const std::string& name, uint32_t mode) {
    return result(mkdirat(fd_of(folder), name.c_str(), mode_t(mode)));
}

// Owner and group first (which clears any setuid bit), then the ACL, the
// extended attributes and the mode bits, so that those bits are only set
// once the owner and group are kept.
int os_copy_identity(const Fd& from, const std::string& name, const Fd& to) {
    struct stat old;
    if (fstat(fd_of(from), &old) != 0 || fchown(fd_of(to), old.st_uid, old.st_gid) != 0 ||
        fchmod(fd_of(to), old.st_mode & 07777) != 0 ||
        perm_copy_fd(name.c_str(), fd_of(from), "(new)", fd_of(to), nullptr) != 0 ||
        attr_copy_fd(name.c_str(), fd_of(from), "(new)", fd_of(to), nullptr, nullptr) != 0)
        return errno;
    return os_set_mode(to, old.st_mode & 07777);
}

int os_set_mode(const Fd& fd, uint32_t mode) { return result(fchmod(fd_of(fd), mode_t(mode))); }

uint32_t os_new_file_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

uint32_t os_user() { return geteuid(); }

std::string os_state_folder() {
    const char* state = getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return state;
    const char* home = getenv("HOME");
    const struct passwd* user = home && *home ? nullptr : getpwuid(geteuid());
    if (user) home = user->pw_dir;
    return home && *home ? std::string(home) + "/.local/state" : "";
}

int os_try_lock(const Fd& fd) {
    int error;
    while ((error = result(flock(fd_of(fd), LOCK_EX | LOCK_NB))) == EINTR) {
    }
    return error;
}

void os_unlock(const Fd& fd) {
    if (fd.valid()) flock(fd_of(fd), LOCK_UN);
}

// As /proc/locks tells it ("1: FLOCK ADVISORY WRITE PID MAJOR:MINOR:INODE 0 EOF").
long os_lock_holder(const Fd& fd) {
    struct stat st;
    FILE* locks = fstat(fd_of(fd), &st) == 0 ? fopen("/proc/locks", "re") : nullptr;
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

void os_sleep_ms(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

bool os_random(uint8_t* bytes, size_t count) {
    return getrandom(bytes, count, GRND_NONBLOCK) == ssize_t(count);
}

int os_folder_path(const Fd& folder, std::string& out) {
    char* real = realpath(("/proc/self/fd/" + std::to_string(fd_of(folder))).c_str(), nullptr);
    if (!real) return errno;
    out = real;
    free(real);
    return 0;
}
