// Replacing a file's contents on disk through the descriptors of its
// handle: atomically where the file's identity can be kept, otherwise in
// place behind a complete recovery copy.
#include "tileset.h"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A named temporary is TEMP_PREFIX, TEMP_RANDOM letters and digits, then
// TEMP_TAG, which the random part cannot produce: no name a user would pick
// by chance.
const char TEMP_PREFIX[] = ".kelbo-save-";
constexpr size_t TEMP_RANDOM = 8;
const char TEMP_TAG[] = ".tmp";
// A temporary its save still writes is locked; one untouched this long, and
// unlocked, was abandoned by a save that was killed.
constexpr time_t ABANDONED_AFTER_S = 60;
const char RECOVERY_TAG[] = ".kelbo-recovery-";

std::string temp_name() {
    static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned counter = 0;
    unsigned char bytes[TEMP_RANDOM];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        unsigned long mix = (unsigned long)(time(nullptr)) ^ ((unsigned long)(getpid()) << 16) ^
                            (++counter * 2654435761u);
        for (unsigned char& b : bytes) b = (unsigned char)(mix >>= 3);
    }
    std::string name = TEMP_PREFIX;
    for (unsigned char b : bytes) name += ALPHABET[b % (sizeof ALPHABET - 1)];
    return name + TEMP_TAG;
}

bool is_temp_name(const char* name) {
    const size_t prefix = sizeof TEMP_PREFIX - 1;
    if (strncmp(name, TEMP_PREFIX, prefix) != 0) return false;
    for (size_t i = 0; i < TEMP_RANDOM; ++i)
        if (!isalnum((unsigned char)(name[prefix + i]))) return false;
    return strcmp(name + prefix + TEMP_RANDOM, TEMP_TAG) == 0;
}

// The recovery copy's name: the file's name, cut so that the whole fits in
// NAME_MAX, and its inode number, which a reboot keeps. Copies kept for
// several editors of one file ended together (a logout) are numbered from
// 2; a save's own copy is always number 1.
std::string recovery_name(const std::string& name, uint64_t inode, int number = 1) {
    const std::string tail = (number > 1 ? "." + std::to_string(number) : std::string()) +
                             RECOVERY_TAG + std::to_string(inode);
    return name.substr(0, std::min(name.size(), size_t(NAME_MAX) - tail.size())) + tail;
}
constexpr int RECOVERY_NAMES = 9;

std::string temp_folder() {
    const char* dir = getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

// Writes from the start of the file, whatever its offset.
bool write_pieces(int fd, const FilePiece* pieces, size_t count) {
    off_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* data = pieces[i].data;
        size_t left = pieces[i].length;
        while (left > 0) {
            ssize_t n = pwrite(fd, data, left, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) {
                errno = EIO;
                return false;
            }
            data += n;
            left -= size_t(n);
            at += n;
        }
    }
    return true;
}

// Checked up front so that an over-limit file fails before anything is
// touched (and no write ever raises SIGXFSZ).
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

ReplaceResult failure(int error) { return ReplaceResult{false, error, {}, {}}; }

bool cannot_write_folder(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// 0 while the handle's name still leads to the file it holds (to none, for
// a new file); otherwise why a save must not go ahead.
int name_changed(const FileHandle& file) {
    FileStamp named = name_stamp(file);
    if (file.fd < 0) return named.exists ? EEXIST : 0;
    if (!named.exists) return ENOENT;
    return stamp_of_held_file(named, file) ? 0 : ESTALE;
}

// Calls `visit` with each name in the folder until it returns false;
// nothing when the folder cannot be listed.
template <typename Visit> void each_name(int dir, Visit visit) {
    int listing = dup(dir);
    DIR* d = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!d) {
        if (listing >= 0) close(listing);
        return;
    }
    while (dirent* e = readdir(d))
        if (!visit(static_cast<const char*>(e->d_name))) break;
    closedir(d);
}

// Removes what a save of ours made and abandoned: a regular file named by
// the temporary pattern, ours, mode 0600, untouched for a minute and
// unlocked. Never another user's file, a link or a folder.
void remove_abandoned_temps(int dir) {
    const time_t old = time(nullptr) - ABANDONED_AFTER_S;
    each_name(dir, [&](const char* name) {
        struct stat named, held;
        if (!is_temp_name(name) || fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(named.st_mode) || named.st_uid != geteuid() ||
            (named.st_mode & 07777) != 0600 || named.st_mtime >= old)
            return true;
        // Unlocked, and still the file that was looked at.
        int fd = openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            unlinkat(dir, name, 0);
        if (fd >= 0) close(fd);
        return true;
    });
}

// --- the atomic path -----------------------------------------------------------------

enum AtomicOutcome { ATOMIC_DONE, ATOMIC_FAILED, ATOMIC_NOT_POSSIBLE, ATOMIC_CANNOT_NAME };

// Gives the new file the old one's owner and group first (which clears any
// setuid bit), then its ACL, extended attributes and mode bits; the setuid
// and setgid bits are therefore only set once the owner and group are kept.
// Everything is read from the descriptor that was locked.
bool copy_identity(const FileHandle& file, const struct stat& old, int fd) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0) return false;
    if (fchmod(fd, old.st_mode & 07777) != 0) return false;
    if (perm_copy_fd(file.name.c_str(), file.fd, "(new)", fd, nullptr) != 0) return false;
    if (attr_copy_fd(file.name.c_str(), file.fd, "(new)", fd, nullptr, nullptr) != 0) return false;
    return fchmod(fd, old.st_mode & 07777) == 0;
}

// A new file for the save's bytes, locked before anyone else can see it:
// unnamed where the filesystem allows (nothing is left if we are killed),
// otherwise under a fresh temporary name, which clean-up leaves alone while
// it is young. `name` is empty for an unnamed one.
int create_temp(int dir, bool allow_unnamed, std::string& name) {
    name.clear();
    int fd = allow_unnamed ? openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600) : -1;
    if (fd < 0 && (!allow_unnamed || !cannot_write_folder(errno))) {
        for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
            name = temp_name();
            fd =
                openat(dir, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0 && errno != EEXIST) break;
        }
        // Exactly 0600, whatever the umask, so that clean-up knows it.
        if (fd >= 0) fchmod(fd, 0600);
        if (fd < 0) name.clear();
    }
    if (fd >= 0) flock(fd, LOCK_EX | LOCK_NB); // no one else has seen it
    return fd;
}

// Gives the file `fd` (unnamed, or named `temp`) the name `name` in the
// folder as well, never in place of an existing one (EEXIST).
bool link_as(int fd, int dir, const std::string& temp, const std::string& name) {
    if (!temp.empty()) return linkat(dir, temp.c_str(), dir, name.c_str(), 0) == 0;
    char proc_path[64];
    snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, proc_path, dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
           (errno != EEXIST && linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0);
}

// Gives the unnamed file a temporary name in the folder.
bool name_unnamed_file(int fd, int dir, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temp_name();
        if (link_as(fd, dir, "", name)) return true;
        if (errno != EEXIST) break;
    }
    name.clear();
    return false;
}

// `old` is the locked file's status, or null for a new file. On success the
// handle holds the new file (locked since its creation) instead.
AtomicOutcome replace_atomically(FileHandle& file, const struct stat* old, const FilePiece* pieces,
                                 size_t count, bool allow_unnamed, int& error) {
    // A folder we may only pass through cannot be flushed after a rename.
    if (fcntl(file.dir, F_GETFL) & O_PATH) {
        error = EACCES;
        return old ? ATOMIC_NOT_POSSIBLE : ATOMIC_FAILED;
    }
    std::string temp;
    int fd = create_temp(file.dir, allow_unnamed, temp);
    if (fd < 0) {
        error = errno;
        return old && cannot_write_folder(error) ? ATOMIC_NOT_POSSIBLE : ATOMIC_FAILED;
    }
    const bool unnamed = temp.empty();

    // The bytes before the identity, so that a named temporary is ours (and
    // 0600) for as long as it takes to write.
    AtomicOutcome outcome = ATOMIC_FAILED;
    if (!write_pieces(fd, pieces, count) || fsync(fd) != 0) {
        error = errno;
    } else if (old ? !copy_identity(file, *old, fd) : fchmod(fd, new_file_mode()) != 0) {
        error = errno;
        outcome = old ? ATOMIC_NOT_POSSIBLE : ATOMIC_FAILED;
    } else if (unnamed && !name_unnamed_file(fd, file.dir, temp)) {
        // Without /proc an unnamed file may not be linkable: try a named one.
        error = errno;
        outcome = ATOMIC_CANNOT_NAME;
    } else if ((error = name_changed(file)) != 0) {
        // Whatever now stands under the name is not what we locked: leave it.
    } else if (renameat(file.dir, temp.c_str(), file.dir, file.name.c_str()) != 0) {
        error = errno;
        // A mount point or a file bound from elsewhere cannot be renamed over.
        if (old && (error == EBUSY || error == EXDEV)) outcome = ATOMIC_NOT_POSSIBLE;
    } else {
        temp.clear(); // it is the file now
        // The rename is only durable once the folder is flushed.
        if (fsync(file.dir) != 0 && errno != EINVAL)
            error = errno;
        else
            outcome = ATOMIC_DONE;
        std::swap(file.fd, fd);
        file.write_error = 0;
    }
    if (!temp.empty()) unlinkat(file.dir, temp.c_str(), 0);
    close(fd);
    return outcome;
}

// --- the in-place path ---------------------------------------------------------------

struct RecoveryCopy {
    int dir = -1; // the folder it is in
    bool own_dir = false;
    std::string name;
    std::string folder; // the folder as a path, for messages
    std::string path() const { return folder + "/" + name; }
};

void remove_copy(RecoveryCopy& copy) {
    unlinkat(copy.dir, copy.name.c_str(), 0);
    fsync(copy.dir);
    if (copy.own_dir) close(copy.dir);
}

// Writes the pieces to a new file that takes `name` in the folder only once
// it is complete and flushed, together with the folder, and never in place
// of an existing file; it is 0600 until named, then `mode`. Returns 0, or
// the errno of a failure that left nothing behind.
int write_new_file(int dir, const std::string& name, const FilePiece* pieces, size_t count,
                   mode_t mode) {
    if (fcntl(dir, F_GETFL) & O_PATH) return EACCES; // a folder we cannot flush
    for (bool allow_unnamed : {true, false}) {
        std::string temp;
        int fd = create_temp(dir, allow_unnamed, temp);
        if (fd < 0) return errno;
        bool written = write_pieces(fd, pieces, count) && fsync(fd) == 0;
        bool named = written && link_as(fd, dir, temp, name);
        int error = errno;
        if (named && mode != 0600) fchmod(fd, mode);
        if (!temp.empty()) unlinkat(dir, temp.c_str(), 0);
        close(fd);
        if (named && fsync(dir) != 0 && errno != EINVAL) {
            error = errno;
            unlinkat(dir, name.c_str(), 0);
        } else if (named) {
            return 0;
        }
        // Without /proc an unnamed file may not be linkable: try a named one.
        if (!written || !temp.empty() || error == EEXIST || named) return error;
    }
    return EIO;
}

// Writes the whole new content to a recovery copy, beside the file if its
// folder lets us or else in $TMPDIR. It must survive a power cut before the
// first byte of the file changes, and a kill while it is written must not
// leave a copy that looks complete. The first of `names` numbered names
// that is free is taken. On failure errno is set and copy.folder says
// where.
bool write_recovery_copy(const FileHandle& file, uint64_t inode, const FilePiece* pieces,
                         size_t count, RecoveryCopy& copy, int names = 1) {
    auto write_in = [&](int dir) {
        int error = EEXIST;
        for (int number = 1; number <= names && error == EEXIST; ++number) {
            copy.name = recovery_name(file.name, inode, number);
            error = write_new_file(dir, copy.name, pieces, count, 0600);
        }
        return error;
    };
    copy.dir = file.dir;
    copy.folder = file.folder;
    int error = write_in(copy.dir);
    if (cannot_write_folder(error)) {
        copy.folder = temp_folder();
        copy.dir = open(copy.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        copy.own_dir = copy.dir >= 0;
        error = copy.own_dir ? write_in(copy.dir) : errno;
        if (error != 0 && copy.own_dir) close(copy.dir);
    }
    errno = error;
    return error == 0;
}

ReplaceResult replace_in_place(FileHandle& file, const struct stat& old, const FilePiece* pieces,
                               size_t count, uint64_t total) {
    RecoveryCopy copy;
    if (!write_recovery_copy(file, uint64_t(old.st_ino), pieces, count, copy)) {
        ReplaceResult r = failure(errno);
        r.copy_folder = copy.folder;
        return r;
    }
    // Until the first byte of the file changes, a failure leaves it intact
    // and the copy is of no use.
    int error = name_changed(file);
    // Reserving the space first turns most "disk full" failures into ones
    // that happen before the old content is touched.
    if (error == 0 && fallocate(file.fd, FALLOC_FL_KEEP_SIZE, 0, off_t(total)) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG))
        error = errno;
    if (error != 0) {
        remove_copy(copy);
        return failure(error);
    }

    // From here on the copy is the only complete version until the file is
    // flushed: keep it even if we are killed, and let no signal cut the
    // write short.
    sigset_t stop, mask;
    sigemptyset(&stop);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, sig);
    sigprocmask(SIG_BLOCK, &stop, &mask);
    bool ok = write_pieces(file.fd, pieces, count) && ftruncate(file.fd, off_t(total)) == 0 &&
              fsync(file.fd) == 0;
    error = errno;
    ReplaceResult result = failure(error);
    if (ok) {
        remove_copy(copy);
        result.ok = true;
        result.error = 0;
    } else {
        result.kept_copy = copy.path();
        if (copy.own_dir) close(copy.dir);
    }
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    return result;
}

// The highest N of the names NAME.~N~ in the folder; 0 when there is none
// or the folder cannot be listed.
uint64_t highest_numbered_copy(int dir, const std::string& name) {
    const std::string prefix = name + ".~";
    uint64_t highest = 0;
    each_name(dir, [&](const char* entry) {
        const char* number = entry + prefix.size();
        if (strncmp(entry, prefix.c_str(), prefix.size()) != 0 || !isdigit((unsigned char)*number))
            return true;
        uint64_t n = 0;
        size_t digits = 0;
        for (; isdigit((unsigned char)number[digits]) && digits < 18; ++digits)
            n = n * 10 + uint64_t(number[digits] - '0');
        if (strcmp(number + digits, "~") == 0) highest = std::max(highest, n);
        return true;
    });
    return highest;
}

// The whole file, at most `limit` bytes, and its permission bits; returns
// 0 or the errno of the failure.
int read_whole(const FileHandle& file, uint64_t limit, std::vector<uint8_t>& bytes, mode_t& mode) {
    struct stat st;
    if ((fcntl(file.fd, F_GETFL) & O_ACCMODE) == O_WRONLY) return EACCES; // writable, not readable
    if (fstat(file.fd, &st) != 0) return errno;
    if (uint64_t(st.st_size) > limit) return EFBIG;
    if (lseek(file.fd, 0, SEEK_SET) != 0) return errno;
    bytes.resize(size_t(st.st_size));
    int64_t got = read_up_to(file.fd, bytes.data(), bytes.size());
    if (got < 0) return errno;
    bytes.resize(size_t(got)); // it may have shrunk meanwhile
    mode = st.st_mode & 0777;
    return 0;
}

} // namespace

int keep_numbered_copy(const FileHandle& file, int folder, const std::string& name, uint64_t limit,
                       uint64_t& number) {
    assert(file.fd >= 0);
    number = 1;
    // Opened for listing and flushing; `folder` may be a path descriptor.
    int dir = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return errno;
    number = highest_numbered_copy(dir, name) + 1;
    std::vector<uint8_t> bytes;
    mode_t mode = 0600;
    int error = read_whole(file, limit, bytes, mode);
    // A copy made meanwhile by someone else takes the number: take the next.
    for (int attempt = 0; error == 0 || (error == EEXIST && attempt < 100); ++attempt, ++number) {
        const FilePiece piece = {bytes.data(), bytes.size()};
        error = write_new_file(dir, name + ".~" + std::to_string(number) + "~", &piece, 1, mode);
        if (error != EEXIST) break;
    }
    close(dir);
    return error;
}

ReplaceResult replace_file(FileHandle& file, const FilePiece* pieces, size_t count) {
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i) total += pieces[i].length;
    if (file.dir < 0) return failure(file.error);
    if (over_size_limit(total)) return failure(EFBIG);

    struct stat old;
    if (file.fd >= 0 && file.write_error != 0) return failure(file.write_error);
    if (file.fd >= 0 && fstat(file.fd, &old) != 0) return failure(errno);
    const struct stat* had = file.fd >= 0 ? &old : nullptr;

    remove_abandoned_temps(file.dir);
    // Another name for the same file would be split off by a rename.
    int error = 0;
    AtomicOutcome outcome = had && old.st_nlink > 1
                                ? ATOMIC_NOT_POSSIBLE
                                : replace_atomically(file, had, pieces, count, true, error);
    if (outcome == ATOMIC_CANNOT_NAME)
        outcome = replace_atomically(file, had, pieces, count, false, error);
    if (outcome == ATOMIC_DONE) return ReplaceResult{true, 0, {}, {}};
    if (outcome == ATOMIC_FAILED) return failure(error);
    assert(had); // only a file that exists is written in place
    return replace_in_place(file, old, pieces, count, total);
}

StorageStatus replace_failure(StorageFailure failure, const std::string& path,
                              const ReplaceResult& result) {
    assert(failure == SAVE_WRITE || failure == LIST_WRITE);
    StorageStatus status;
    status.failure = failure;
    status.path = path;
    status.error = result.error;
    status.detail = result.copy_folder;
    status.kept_copy = result.kept_copy;
    return status;
}

ReplaceResult keep_recovery_copy(const FileHandle& file, const FilePiece* pieces, size_t count) {
    struct stat st;
    if (file.dir < 0) return failure(file.error);
    if (file.fd < 0 || fstat(file.fd, &st) != 0) return failure(file.fd < 0 ? ENOENT : errno);
    RecoveryCopy copy;
    if (!write_recovery_copy(file, uint64_t(st.st_ino), pieces, count, copy, RECOVERY_NAMES)) {
        ReplaceResult r = failure(errno);
        r.copy_folder = copy.folder;
        return r;
    }
    if (copy.own_dir) close(copy.dir);
    ReplaceResult r = {true, 0, copy.path(), {}};
    return r;
}

std::string find_recovery_copy(const FileHandle& file) {
    struct stat st;
    if (file.fd < 0 || fstat(file.fd, &st) != 0) return "";
    // Only a regular file of ours: anyone may put anything in /tmp.
    auto ours = [](int at, const char* path) {
        struct stat copy;
        return fstatat(at, path, &copy, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(copy.st_mode) &&
               copy.st_uid == geteuid();
    };
    const std::string temp = temp_folder();
    for (int number = 1; number <= RECOVERY_NAMES; ++number) {
        const std::string name = recovery_name(file.name, uint64_t(st.st_ino), number);
        if (ours(file.dir, name.c_str())) return file.folder + "/" + name;
        if (ours(AT_FDCWD, (temp + "/" + name).c_str())) return temp + "/" + name;
    }
    // A file with several names is saved in place, and its copy is named
    // after the name that save was given: look for a copy of this inode
    // under any name.
    if (st.st_nlink < 2) return "";
    const std::string tail = RECOVERY_TAG + std::to_string(st.st_ino);
    auto any_name = [&](int dir) {
        std::string found;
        each_name(dir, [&](const char* entry) {
            const size_t length = strlen(entry);
            if (length <= tail.size() || tail.compare(entry + length - tail.size()) != 0 ||
                !ours(dir, entry))
                return true;
            found = entry;
            return false;
        });
        return found;
    };
    std::string found = any_name(file.dir);
    if (!found.empty()) return file.folder + "/" + found;
    int dir = open(temp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return "";
    found = any_name(dir);
    close(dir);
    return found.empty() ? "" : temp + "/" + found;
}
