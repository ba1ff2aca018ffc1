// Resolving a path once: a walk from folder to folder through descriptors,
// following symbolic links under the sticky-folder rule, that ends with the
// file's folder and the file itself open.
#include "tileset.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int MAX_LINKS = 40; // as many as the kernel follows

// In a sticky folder anyone may write, a link is followed only when it
// belongs to us or to the folder's owner: anyone else's may have been
// planted there to redirect our writes.
bool may_follow(int folder, int link) {
    struct stat f, l;
    if (fstat(folder, &f) != 0 || fstat(link, &l) != 0) return false;
    bool shared = (f.st_mode & S_ISVTX) && (f.st_mode & S_IWOTH);
    return !shared || l.st_uid == geteuid() || l.st_uid == f.st_uid;
}

// Takes the next name off the front of `rest`, leaving what follows it.
std::string next_name(std::string& rest) {
    size_t start = rest.find_first_not_of('/');
    assert(start != std::string::npos); // a path, or what a link adds, ends in a name
    size_t end = rest.find('/', start);
    std::string name = rest.substr(start, end - start);
    rest.erase(0, end);
    return name;
}

// A path that ends in a slash names a folder, as its name "." does.
void mark_folder(std::string& rest) {
    if (!rest.empty() && rest.back() == '/') rest += '.';
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Opens the file found at the end of the walk (`found`): read-write where
// the user may write it, else only read (write_error says why), else only
// write. Returns 0, or the errno of the failure; ESTALE when the name was
// swapped for another file meanwhile.
int open_last(int dir, const std::string& name, const struct stat& found, FileHandle& file) {
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    file.write_error = 0;
    int fd = openat(dir, name.c_str(), O_RDWR | flags);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)) {
        file.write_error = errno;
        fd = openat(dir, name.c_str(), O_RDONLY | flags);
        if (fd < 0 && errno == EACCES && file.write_error == EACCES) {
            fd = openat(dir, name.c_str(), O_WRONLY | flags);
            if (fd >= 0) file.write_error = 0;
        }
    }
    if (fd < 0) return errno;
    struct stat st;
    int error = fstat(fd, &st) != 0                                      ? errno
                : st.st_dev == found.st_dev && st.st_ino == found.st_ino ? 0
                                                                         : ESTALE;
    if (error == 0)
        file.fd = fd;
    else
        close(fd);
    return error;
}

struct Walk {
    int dir = -1;      // the folder reached so far (O_PATH)
    std::string where; // the same as a path
};

bool start_at(Walk& w, int base, bool absolute) {
    if (w.dir >= 0) close(w.dir);
    w.dir = absolute ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                     : openat(base, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    return w.dir >= 0;
}

// Reads the link `fd` (open on the link itself) into the front of `rest`,
// restarting at the root for an absolute target.
bool follow(Walk& w, int fd, std::string& rest) {
    char target[PATH_MAX];
    ssize_t n = readlinkat(fd, "", target, sizeof target);
    if (n < 0) return false;
    if (size_t(n) == sizeof target) {
        errno = ENAMETOOLONG;
        return false;
    }
    rest.insert(0, target, size_t(n));
    mark_folder(rest);
    if (target[0] != '/') return true;
    w.where = "/";
    return start_at(w, AT_FDCWD, true);
}

// The walk itself; returns 0 or the errno of the failure.
int walk(const char* path, FileHandle& file, int base, int* entry) {
    std::string rest = path;
    if (rest.empty()) return ENOENT;
    // A relative path's folder, as shown, is what the shown path adds before it.
    const std::string& shown = file.shown;
    Walk w;
    if (rest[0] == '/')
        w.where = "/";
    else if (shown.size() > rest.size() &&
             shown.compare(shown.size() - rest.size(), rest.size(), rest) == 0)
        w.where = shown.substr(0, shown.size() - rest.size());
    mark_folder(rest);
    if (!start_at(w, base, rest[0] == '/')) return errno;

    int links = 0;
    bool through_link = false; // the last name came from a link
    int error = 0;
    while (error == 0 && file.fd < 0) {
        std::string name = next_name(rest);
        const bool last = rest.find_first_not_of('/') == std::string::npos;
        if (last && !through_link && entry && *entry < 0) *entry = dup(w.dir);
        // Only what each name is, not the file: opening a device may do
        // something.
        int fd = openat(w.dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (fd < 0 && errno == ENOENT && last && !through_link) {
            file.name = name; // a new file
            break;
        }
        if (fd < 0 || fstat(fd, &st) != 0) {
            error = errno;
        } else if (S_ISLNK(st.st_mode)) {
            if (++links > MAX_LINKS)
                error = ELOOP;
            else if (!may_follow(w.dir, fd))
                error = EACCES;
            else if (!follow(w, fd, rest))
                error = errno;
            through_link = through_link || last;
        } else if (!last) {
            if (S_ISDIR(st.st_mode)) {
                std::swap(w.dir, fd);
                w.where = joined(w.where, name);
            } else {
                error = ENOTDIR;
            }
        } else if (S_ISREG(st.st_mode)) {
            error = open_last(w.dir, name, st, file);
            file.name = name;
        } else {
            error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            file.not_regular = true;
        }
        if (fd >= 0) close(fd);
    }
    if (error == 0) {
        // A folder we may not list still takes the save, through its path
        // descriptor, in place (replace_file checks).
        file.dir = openat(w.dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (file.dir < 0) std::swap(file.dir, w.dir);
        if (w.where.size() > 1 && w.where.back() == '/') w.where.pop_back();
        file.folder = w.where.empty() ? "." : w.where;
    }
    if (w.dir >= 0) close(w.dir);
    return error;
}

} // namespace

void open_file(const char* path, FileHandle& file, int base, const char* shown, int* entry) {
    close_file(file);
    file.shown = shown ? shown : path;
    file.error = walk(path, file, base, entry);
    if (file.error != 0) {
        int error = file.error;
        bool not_regular = file.not_regular;
        close_file(file);
        file.error = error;
        file.not_regular = not_regular;
    }
}

void close_file(FileHandle& file) {
    if (file.fd >= 0) close(file.fd); // closing releases the lock
    if (file.dir >= 0) close(file.dir);
    file.fd = file.dir = -1;
    file.error = file.write_error = 0;
    file.not_regular = false;
    file.name.clear();
    file.folder.clear();
}
