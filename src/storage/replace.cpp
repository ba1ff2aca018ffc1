// Replacing a file's contents on disk: atomically where the file's identity
// can be kept, otherwise in place behind a complete recovery copy.
#include "tileset.h"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// --- signals -------------------------------------------------------------------------

// While a named temporary or recovery file exists, SIGINT, SIGTERM or SIGHUP
// removes it before the signal ends the process as it would have anyway.
const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int CLEANUP_SIGNAL_COUNT = 3;

char g_armed_path[PATH_MAX + 1];
volatile sig_atomic_t g_armed = 0;

extern "C" void remove_armed_file_and_die(int sig) {
    if (g_armed) unlink(g_armed_path);
    signal(sig, SIG_DFL);
    raise(sig); // delivered once this handler returns
}

struct SignalGuard {
    struct sigaction old[CLEANUP_SIGNAL_COUNT];
    bool replaced[CLEANUP_SIGNAL_COUNT];
    struct sigaction old_xfsz;
};

// Only signals that would kill the process are taken over: a handler the
// program installed (SDL turns SIGINT into a quit event) stays, and the save
// finishes before that event is seen. A write over the file-size limit must
// fail with EFBIG and be reported rather than kill the process.
void guard_signals(SignalGuard& g) {
    for (int i = 0; i < CLEANUP_SIGNAL_COUNT; ++i) {
        struct sigaction current;
        g.replaced[i] = false;
        if (sigaction(CLEANUP_SIGNALS[i], nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
        struct sigaction cleanup = {};
        cleanup.sa_handler = remove_armed_file_and_die;
        sigemptyset(&cleanup.sa_mask);
        g.replaced[i] = sigaction(CLEANUP_SIGNALS[i], &cleanup, &g.old[i]) == 0;
    }
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &g.old_xfsz);
}

void release_signals(SignalGuard& g) {
    for (int i = 0; i < CLEANUP_SIGNAL_COUNT; ++i)
        if (g.replaced[i]) sigaction(CLEANUP_SIGNALS[i], &g.old[i], nullptr);
    sigaction(SIGXFSZ, &g.old_xfsz, nullptr);
}

sigset_t block_cleanup_signals() {
    sigset_t set, old;
    sigemptyset(&set);
    for (int sig : CLEANUP_SIGNALS) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old);
    return old;
}

void restore_signal_mask(const sigset_t& old) { sigprocmask(SIG_SETMASK, &old, nullptr); }

void arm(const std::string& path) {
    g_armed = 0;
    if (path.size() >= sizeof g_armed_path) return;
    memcpy(g_armed_path, path.c_str(), path.size() + 1);
    g_armed = 1;
}

void disarm() { g_armed = 0; }

// --- small helpers -------------------------------------------------------------------

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string temp_folder() {
    const char* dir = getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

std::string random_name(const char* prefix) {
    static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned counter = 0;
    unsigned char bytes[8];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        unsigned long mix = (unsigned long)(time(nullptr)) ^ ((unsigned long)(getpid()) << 16) ^
                            (++counter * 2654435761u);
        for (unsigned char& b : bytes) b = (unsigned char)(mix >>= 3);
    }
    std::string name = prefix;
    for (unsigned char b : bytes) name += ALPHABET[b % (sizeof ALPHABET - 1)];
    return name;
}

bool write_pieces(int fd, const FilePiece* pieces, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* data = pieces[i].data;
        size_t left = pieces[i].length;
        while (left > 0) {
            ssize_t n = write(fd, data, left);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) {
                errno = EIO;
                return false;
            }
            data += n;
            left -= size_t(n);
        }
    }
    return true;
}

// Checked up front so that an over-limit file fails before anything is
// touched, rather than part way through an in-place write.
bool over_size_limit(uint64_t total) {
    struct rlimit limit;
    return getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
           total > uint64_t(limit.rlim_cur);
}

mode_t new_file_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Follows a symbolic link through its whole chain, so that the file it
// points at is replaced and the link stays. A path that does not exist (and
// is no dangling link) is a new file.
bool resolve_target(const char* path, std::string& target, bool& exists) {
    struct stat st;
    if (lstat(path, &st) != 0) {
        if (errno != ENOENT) return false;
        target = path;
        exists = false;
        return true;
    }
    exists = true;
    if (!S_ISLNK(st.st_mode)) {
        target = path;
        return true;
    }
    char resolved[PATH_MAX];
    if (!realpath(path, resolved)) return false;
    target = resolved;
    return true;
}

ReplaceResult failure(int error) {
    ReplaceResult r;
    r.ok = false;
    r.error = error;
    return r;
}

ReplaceResult success() {
    ReplaceResult r;
    r.ok = true;
    r.error = 0;
    return r;
}

// --- the atomic path -----------------------------------------------------------------

enum AtomicOutcome { ATOMIC_DONE, ATOMIC_FAILED, ATOMIC_NOT_POSSIBLE, ATOMIC_CANNOT_NAME };

struct Existing {
    bool exists;
    int fd; // open on the old file, for its metadata
    struct stat st;
};

bool cannot_write_folder(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// Gives the new file the old one's owner and group first (which clears any
// setuid bit), then its ACL, extended attributes and mode bits; the setuid
// and setgid bits are therefore only set once the owner and group are kept.
bool copy_identity(const std::string& target, const Existing& old, const std::string& temp,
                   int fd) {
    if (fchown(fd, old.st.st_uid, old.st.st_gid) != 0) return false;
    if (fchmod(fd, old.st.st_mode & 07777) != 0) return false;
    if (perm_copy_fd(target.c_str(), old.fd, temp.c_str(), fd, nullptr) != 0) return false;
    if (attr_copy_fd(target.c_str(), old.fd, temp.c_str(), fd, nullptr, nullptr) != 0) return false;
    return fchmod(fd, old.st.st_mode & 07777) == 0;
}

// A temporary is locked by the save that made it for as long as it lives,
// so one that can be locked was left by a save killed between naming it and
// renaming it over the target (or, where unnamed files are refused, while
// writing it). Such leftovers are removed by the next save in their folder.
const char TEMP_PREFIX[] = ".kelbo-save-";

// Our own names only: the prefix, then six (named) or eight (unnamed)
// letters and digits.
bool is_temp_name(const char* name) {
    const size_t prefix = sizeof TEMP_PREFIX - 1;
    if (strncmp(name, TEMP_PREFIX, prefix) != 0) return false;
    size_t tail = 0;
    while (name[prefix + tail] && isalnum((unsigned char)(name[prefix + tail]))) ++tail;
    return name[prefix + tail] == '\0' && (tail == 6 || tail == 8);
}

void remove_abandoned_temps(int dir) {
    int listing = dup(dir);
    DIR* d = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!d) {
        if (listing >= 0) close(listing);
        return;
    }
    while (dirent* e = readdir(d)) {
        if (!is_temp_name(e->d_name)) continue;
        int fd = openat(dir, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) fd = openat(dir, e->d_name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held, named;
        // The name must still be the file that was found unlocked.
        if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fstatat(dir, e->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            unlinkat(dir, e->d_name, 0);
        close(fd);
    }
    closedir(d);
}

// Gives the unnamed file a random name in the folder. Signals are held off
// so that a name never exists without being armed for removal.
bool name_unnamed_file(int fd, int dir, const std::string& folder, std::string& name) {
    char proc_path[64];
    snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = random_name(TEMP_PREFIX);
        sigset_t old = block_cleanup_signals();
        bool linked = linkat(AT_FDCWD, proc_path, dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                      (errno != EEXIST && linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0);
        int error = errno;
        if (linked) arm(folder + "/" + name);
        restore_signal_mask(old);
        if (linked) return true;
        if (error != EEXIST) {
            errno = error;
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

AtomicOutcome replace_atomically(const std::string& target, const Existing& old,
                                 const FilePiece* pieces, size_t count, bool allow_unnamed,
                                 int& error) {
    const std::string folder = folder_of(target);
    const std::string base = name_of(target);
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        error = errno;
        return old.exists && cannot_write_folder(error) ? ATOMIC_NOT_POSSIBLE : ATOMIC_FAILED;
    }

    remove_abandoned_temps(dir);

    // An unnamed file leaves nothing behind whatever kills us; a filesystem
    // without them gets a named one, removed on the usual signals.
    std::string temp_name;
    int fd = allow_unnamed ? openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
    bool unnamed = fd >= 0;
    if (fd < 0 && (!allow_unnamed || !cannot_write_folder(errno))) {
        temp_name = std::string(TEMP_PREFIX) + "XXXXXX";
        std::string full = folder + "/" + temp_name;
        sigset_t mask = block_cleanup_signals();
        fd = mkostemp(&full[0], O_CLOEXEC);
        error = errno;
        if (fd >= 0) arm(full);
        restore_signal_mask(mask);
        errno = error;
        temp_name = name_of(full);
    }
    if (fd < 0) {
        error = errno;
        close(dir);
        return old.exists && cannot_write_folder(error) ? ATOMIC_NOT_POSSIBLE : ATOMIC_FAILED;
    }
    flock(fd, LOCK_EX); // marks it as in use until we close it

    AtomicOutcome outcome = ATOMIC_FAILED;
    const std::string shown = unnamed ? folder + "/(unnamed)" : folder + "/" + temp_name;
    bool identity =
        old.exists ? copy_identity(target, old, shown, fd) : fchmod(fd, new_file_mode()) == 0;
    if (!identity) {
        outcome = ATOMIC_NOT_POSSIBLE;
    } else if (!write_pieces(fd, pieces, count) || fsync(fd) != 0) {
        error = errno;
    } else if (unnamed && !name_unnamed_file(fd, dir, folder, temp_name)) {
        // Without /proc an unnamed file may not be linkable: try a named one.
        error = errno;
        outcome = ATOMIC_CANNOT_NAME;
    } else if (renameat(dir, temp_name.c_str(), dir, base.c_str()) != 0) {
        error = errno;
        // A mount point or a file bound from elsewhere cannot be renamed over.
        if (old.exists && (error == EBUSY || error == EXDEV)) outcome = ATOMIC_NOT_POSSIBLE;
    } else {
        temp_name.clear(); // it is the target now
        disarm();
        // The rename is only durable once the folder is flushed.
        if (fsync(dir) != 0 && errno != EINVAL)
            error = errno;
        else
            outcome = ATOMIC_DONE;
    }
    if (!temp_name.empty() && (!unnamed || g_armed)) unlinkat(dir, temp_name.c_str(), 0);
    disarm();
    close(fd);
    close(dir);
    return outcome;
}

// --- the in-place path ---------------------------------------------------------------

// Writes the whole new content to a flushed recovery copy, beside the target
// if its folder is writable or else in $TMPDIR. Returns its path, or an
// empty string with errno set.
std::string write_recovery_copy(const std::string& target, const FilePiece* pieces, size_t count) {
    std::string beside = folder_of(target);
    bool folder_writable = faccessat(AT_FDCWD, beside.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    std::string copy = (folder_writable ? beside : temp_folder()) + "/" + name_of(target) +
                       ".kelbo-recovery-XXXXXX";
    sigset_t mask = block_cleanup_signals();
    int fd = mkostemp(&copy[0], O_CLOEXEC);
    int error = errno;
    if (fd >= 0) arm(copy);
    restore_signal_mask(mask);
    if (fd < 0) {
        errno = error;
        return std::string();
    }
    bool ok = write_pieces(fd, pieces, count) && fsync(fd) == 0;
    error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(copy.c_str());
        disarm();
        errno = error;
        return std::string();
    }
    return copy;
}

ReplaceResult replace_in_place(const std::string& target, const FilePiece* pieces, size_t count,
                               uint64_t total) {
    std::string copy = write_recovery_copy(target, pieces, count);
    if (copy.empty()) return failure(errno);

    // Until the first byte of the target changes, a failure leaves it intact
    // and the copy is of no use.
    auto give_up = [&](int error) {
        unlink(copy.c_str());
        disarm();
        return failure(error);
    };
    int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return give_up(errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return give_up(EINVAL);
    }
    // Reserving the space first turns most "disk full" failures into ones
    // that happen before the old content is touched.
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(total)) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
        int error = errno;
        close(fd);
        return give_up(error);
    }

    // From here on the copy is the only complete version until the target
    // is flushed: keep it even if we are killed, and let no signal cut the
    // write short.
    sigset_t mask = block_cleanup_signals();
    disarm();
    bool ok = write_pieces(fd, pieces, count) && ftruncate(fd, off_t(total)) == 0 && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok) unlink(copy.c_str());
    restore_signal_mask(mask);
    if (!ok) {
        ReplaceResult r = failure(error);
        r.kept_copy = copy;
        return r;
    }
    return success();
}

ReplaceResult replace_guarded(const char* path, const FilePiece* pieces, size_t count,
                              const FileLock* held) {
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i) total += pieces[i].length;

    std::string target;
    Existing old = {};
    old.fd = -1;
    if (!resolve_target(path, target, old.exists)) return failure(errno);
    if (over_size_limit(total)) return failure(EFBIG);

    // The lock's descriptor also lends the old file's metadata.
    FileLock own;
    if (old.exists) {
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return failure(errno);
        if (held && held->fd >= 0) {
            old.fd = held->fd;
        } else {
            int error;
            if (!lock_file(target.c_str(), own, error)) return failure(error);
            old.fd = own.fd;
        }
    }

    ReplaceResult result = failure(0);
    if (old.exists && fstat(old.fd, &old.st) != 0) {
        result = failure(errno);
    } else if (old.exists && !S_ISREG(old.st.st_mode)) {
        result = failure(S_ISDIR(old.st.st_mode) ? EISDIR : EINVAL);
    } else {
        // Another name for the same file would be split off by a rename.
        int error = 0;
        AtomicOutcome outcome = old.exists && old.st.st_nlink > 1
                                    ? ATOMIC_NOT_POSSIBLE
                                    : replace_atomically(target, old, pieces, count, true, error);
        if (outcome == ATOMIC_CANNOT_NAME)
            outcome = replace_atomically(target, old, pieces, count, false, error);
        if (outcome == ATOMIC_DONE)
            result = success();
        else if (outcome == ATOMIC_FAILED)
            result = failure(error);
        else
            result = replace_in_place(target, pieces, count, total);
    }
    unlock_file(own);
    return result;
}

} // namespace

ReplaceResult replace_file(const char* path, const FilePiece* pieces, size_t count,
                           const FileLock* held) {
    SignalGuard guard;
    guard_signals(guard);
    ReplaceResult result = replace_guarded(path, pieces, count, held);
    release_signals(guard);
    return result;
}

void print_replace_failure(const char* what, const char* path, const ReplaceResult& result) {
    printf("%s: %s (%s)\n", what, path, strerror(result.error));
    if (!result.kept_copy.empty())
        printf("The new content is kept in: %s\n", result.kept_copy.c_str());
}
