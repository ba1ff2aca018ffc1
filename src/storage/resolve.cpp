// Resolving a path once: a walk from folder to folder through descriptors,
// following symbolic links under the sticky-folder rule, that ends with the
// file's folder and the file itself open.
#include "resolve.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr int MAX_LINKS = 40; // as many as the kernel follows

// In a sticky folder anyone may write, a link is followed only when it
// belongs to us or to the folder's owner: anyone else's may have been
// planted there to redirect our writes.
bool may_follow(const Fd& folder, const Fd& link) {
    FileInfo f, l;
    if (os_stat(folder, f) != 0 || os_stat(link, l) != 0) return false;
    bool shared = (f.mode & 01000) && (f.mode & 0002);
    return !shared || l.owner == os_user() || l.owner == f.owner;
}

// Takes the next name off the front of `rest`, leaving what follows it.
std::string next_name(std::string& rest) {
    size_t start = rest.find_first_not_of(OS_SEPARATORS);
    assert(start != std::string::npos); // a path, or what a link adds, ends in a name
    size_t end = rest.find_first_of(OS_SEPARATORS, start);
    std::string name = rest.substr(start, end - start);
    rest.erase(0, end);
    return name;
}

// A path that ends in a slash names a folder, as its name "." does.
void mark_folder(std::string& rest) {
    if (!rest.empty() && strchr(OS_SEPARATORS, rest.back())) rest += '.';
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return strchr(OS_SEPARATORS, folder.back()) ? folder + name : folder + "/" + name;
}

// Opens the file found at the end of the walk (`found`): read-write where
// the user may write it, else only read (write_error says why), else only
// write. Returns 0, or the errno of the failure; ESTALE when the name was
// swapped for another file meanwhile.
int open_last(const Fd& dir, const std::string& name, const FileInfo& found, FileHandle& file) {
    Fd fd;
    int error = os_open(&dir, name, OPEN_READ_WRITE, fd);
    file.write_error = 0;
    if (error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY) {
        file.write_error = error;
        error = os_open(&dir, name, OPEN_READ, fd);
        if (error == EACCES && file.write_error == EACCES &&
            (error = os_open(&dir, name, OPEN_WRITE, fd)) == 0) {
            file.write_error = 0;
            file.readable = false;
        }
    }
    FileInfo st;
    if (error == 0) error = os_stat(fd, st);
    if (error == 0 && (st.device != found.device || st.inode != found.inode)) error = ESTALE;
    if (error == 0) file.fd = std::move(fd);
    return error;
}

struct Walk {
    Fd dir;            // the folder reached so far (a path descriptor)
    std::string where; // the same as a path
};

// The root the path names, taken off its front, or the folder `base`.
int start_at(Walk& w, const Fd* base, std::string& rest) {
    const size_t root = os_root_length(rest);
    if (root == 0) return os_open(base, ".", OPEN_NAME, w.dir);
    w.where = rest.substr(0, root);
    rest.erase(0, root);
    return os_open(nullptr, w.where, OPEN_NAME, w.dir);
}

// Reads the link `fd` into the front of `rest`, restarting at the root for
// an absolute target.
int follow(Walk& w, const Fd& fd, std::string& rest) {
    std::string target;
    if (int error = os_read_link(fd, target)) return error;
    rest.insert(0, target);
    mark_folder(rest);
    return os_root_length(target) == 0 ? 0 : start_at(w, nullptr, rest);
}

// One name of the walk; `through_link` says the last name came from a link.
int step(Walk& w, std::string& rest, int& links, bool& through_link, FileHandle& file, Fd* entry) {
    std::string name = next_name(rest);
    const bool last = rest.find_first_not_of(OS_SEPARATORS) == std::string::npos;
    if (last && !through_link && entry && !entry->valid()) os_open(&w.dir, ".", OPEN_NAME, *entry);
    // Only what each name is, not the file: opening a device may do something.
    Fd fd;
    FileInfo st;
    int error = os_open(&w.dir, name, OPEN_NAME, fd);
    if (error == ENOENT && last && !through_link) {
        file.name = name; // a new file
        return 0;
    }
    if (error == 0) error = os_stat(fd, st);
    if (error != 0) return error;
    if (st.kind == KIND_LINK) {
        if (++links > MAX_LINKS) return ELOOP;
        if (!may_follow(w.dir, fd)) return EACCES;
        through_link = through_link || last;
        return follow(w, fd, rest);
    }
    if (!last) {
        if (st.kind != KIND_FOLDER) return ENOTDIR;
        w.dir = std::move(fd);
        w.where = joined(w.where, name);
        return 0;
    }
    if (st.kind == KIND_REGULAR) {
        file.name = name;
        return open_last(w.dir, name, st, file);
    }
    file.not_regular = true;
    return st.kind == KIND_FOLDER ? EISDIR : EINVAL;
}

int walk(const char* path, FileHandle& file, const Fd* base, Fd* entry) {
    std::string rest = path;
    if (rest.empty()) return ENOENT;
    // A relative path's folder, as shown, is what the shown path adds before it.
    const std::string& shown = file.shown;
    Walk w;
    if (os_root_length(rest) == 0 && shown.size() > rest.size() &&
        shown.compare(shown.size() - rest.size(), rest.size(), rest) == 0)
        w.where = shown.substr(0, shown.size() - rest.size());
    mark_folder(rest);
    int error = start_at(w, base, rest);
    int links = 0;
    bool through_link = false;
    while (error == 0 && !file.fd.valid() && file.name.empty())
        error = step(w, rest, links, through_link, file, entry);
    if (error != 0) return error;
    // A folder we may not list still takes the save, through its path
    // descriptor, in place (replace_file checks).
    if (os_open(&w.dir, ".", OPEN_FOLDER, file.dir) != 0) file.dir = std::move(w.dir);
    if (w.where.size() > os_root_length(w.where) && strchr(OS_SEPARATORS, w.where.back()))
        w.where.pop_back();
    file.folder = w.where.empty() ? "." : w.where;
    return 0;
}

} // namespace

void open_file(const char* path, FileHandle& file, const Fd* base, const char* shown, Fd* entry) {
    file = FileHandle{};
    file.shown = shown ? shown : path;
    int error = walk(path, file, base, entry);
    if (error == 0) return;
    const bool not_regular = file.not_regular;
    std::string shown_path = std::move(file.shown);
    file = FileHandle{};
    file.shown = std::move(shown_path);
    file.error = error;
    file.not_regular = not_regular;
}

std::string last_name(const std::string& path) {
    return path.substr(path.find_last_of(OS_SEPARATORS) + 1); // npos + 1 is 0
}
