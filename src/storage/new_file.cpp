// Temporary files and files named only once complete.
#include "new_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
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
constexpr int NAME_ATTEMPTS = 100;

std::string temp_name() { return TEMP_PREFIX + random_part(TEMP_RANDOM) + TEMP_TAG; }

bool is_temp_name(const std::string& name) {
    const size_t prefix = sizeof TEMP_PREFIX - 1;
    if (name.compare(0, prefix, TEMP_PREFIX) != 0 || name.size() < prefix + TEMP_RANDOM)
        return false;
    for (size_t i = 0; i < TEMP_RANDOM; ++i)
        if (!isalnum((unsigned char)(name[prefix + i]))) return false;
    return name.compare(prefix + TEMP_RANDOM, std::string::npos, TEMP_TAG) == 0;
}

// Locks a file no one else has seen yet; a file system without locks
// leaves it unlocked, and clean-up, which needs the lock, unremoved.
int lock_fresh(const Fd& fd) {
    int error = os_try_lock(fd);
    return error == EOPNOTSUPP || error == ENOLCK ? 0 : error;
}

} // namespace

bool cannot_write_folder(int error) { return error == EACCES || error == EPERM || error == EROFS; }

std::string random_part(size_t length) {
    static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned counter = 0;
    std::vector<uint8_t> bytes(length);
    if (!os_random(bytes.data(), length)) {
        unsigned long mix = (unsigned long)(time(nullptr)) ^ (++counter * 2654435761u);
        for (uint8_t& b : bytes) b = uint8_t(mix >>= 3);
    }
    std::string part;
    for (uint8_t b : bytes) part += ALPHABET[b % (sizeof ALPHABET - 1)];
    return part;
}

int write_unpredictable(const Fd& dir, const std::string& stem, const FilePiece* pieces,
                        size_t count, std::string& name) {
    int error = EEXIST;
    for (int attempt = 0; error == EEXIST && attempt < NAME_ATTEMPTS; ++attempt) {
        name = stem + random_part(RANDOM_PART);
        error = write_new_file(dir, name, pieces, count, 0600);
    }
    return error;
}

int create_temp(const Fd& dir, bool allow_unnamed, Fd& out, std::string& name) {
    name.clear();
    int error = allow_unnamed ? os_open(&dir, ".", OPEN_UNNAMED, out) : EOPNOTSUPP;
    if (error != 0 && allow_unnamed && cannot_write_folder(error)) return error;
    for (int attempt = 0; error != 0 && attempt < NAME_ATTEMPTS; ++attempt) {
        name = temp_name();
        error = os_open(&dir, name, OPEN_NEW, out);
        // Exactly 0600, whatever the umask, so that clean-up knows it.
        if (error == 0 && (error = os_set_mode(out, 0600)) != 0) {
            os_unlink(dir, name);
            out.reset();
            break;
        }
        if (error != EEXIST) break;
    }
    if (error != 0) name.clear();
    if (error == 0 && (error = lock_fresh(out)) != 0) {
        if (!name.empty()) os_unlink(dir, name);
        out.reset();
        name.clear();
    }
    return error;
}

int link_as(const Fd& file, const Fd& dir, const std::string& temp, const std::string& name) {
    return temp.empty() ? os_link_unnamed(file, dir, name) : os_link(dir, temp, name);
}

int name_unnamed_file(const Fd& file, const Fd& dir, std::string& name) {
    int error = EEXIST;
    for (int attempt = 0; error == EEXIST && attempt < NAME_ATTEMPTS; ++attempt) {
        name = temp_name();
        error = os_link_unnamed(file, dir, name);
    }
    if (error != 0) name.clear();
    return error;
}

int write_new_file(const Fd& dir, const std::string& name, const FilePiece* pieces, size_t count,
                   uint32_t mode) {
    if (os_path_only(dir)) return EACCES; // a folder we cannot flush
    for (bool allow_unnamed : {true, false}) {
        std::string temp;
        Fd fd;
        if (int error = create_temp(dir, allow_unnamed, fd, temp)) return error;
        int error = os_write_pieces(fd, pieces, count);
        if (error == 0) error = os_flush(fd);
        const bool written = error == 0;
        if (written) error = link_as(fd, dir, temp, name);
        const bool named = written && error == 0;
        if (named && mode != 0600) error = os_set_mode(fd, mode);
        if (named && error == 0) error = os_flush(dir);
        if (!temp.empty()) os_unlink(dir, temp);
        if (named && error != 0) os_unlink(dir, name);
        if (error == 0) return 0;
        // Without /proc an unnamed file may not be linkable: try a named one.
        if (!written || !temp.empty() || error == EEXIST || named) return error;
    }
    return EIO;
}

void remove_abandoned_temps(const Fd& dir) {
    std::vector<std::string> names;
    if (os_list(dir, names) != 0) return;
    const time_t old = time(nullptr) - ABANDONED_AFTER_S;
    for (const std::string& name : names) {
        FileInfo named, held;
        Fd fd;
        if (!is_temp_name(name) || os_stat_at(dir, name, named) != 0 ||
            named.kind != KIND_REGULAR || named.owner != os_user() || named.mode != 0600 ||
            named.modified_s >= old)
            continue;
        // Unlocked, and still the file that was looked at.
        if (os_open(&dir, name, OPEN_READ, fd) == 0 && os_try_lock(fd) == 0 &&
            os_stat(fd, held) == 0 && held.device == named.device && held.inode == named.inode)
            os_unlink(dir, name);
    }
}
