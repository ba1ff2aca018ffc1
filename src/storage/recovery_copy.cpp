// The in-place path of a save, behind a complete recovery copy, and the
// copies themselves: written, found and kept.
#include "file_lock.h"
#include "new_file.h"
#include "safe_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace {

const char RECOVERY_TAG[] = ".kelbo-recovery-";
constexpr int RECOVERY_NAMES = 9;

// The recovery copy's name: the file's name, cut so that the whole fits in
// NAME_MAX, and its inode number, which a reboot keeps. Copies kept for
// several editors of one file ended together (a logout) are numbered from
// 2; a save's own copy is always number 1.
std::string recovery_name(const std::string& name, uint64_t inode, int number) {
    const std::string tail = (number > 1 ? "." + std::to_string(number) : std::string()) +
                             RECOVERY_TAG + std::to_string(inode);
    return name.substr(0, std::min(name.size(), size_t(NAME_MAX) - tail.size())) + tail;
}

std::string temp_folder() {
    const char* dir = getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

bool cannot_write_folder(int error) { return error == EACCES || error == EPERM || error == EROFS; }

struct RecoveryCopy {
    Fd own_dir; // the folder it is in, when not the file's own
    std::string name;
    std::string folder; // the folder as a path, for messages
    const Fd& dir(const FileHandle& file) const { return own_dir.valid() ? own_dir : file.dir; }
    std::string path() const { return folder + "/" + name; }
};

// Writes the whole new content to a recovery copy, beside the file if its
// folder lets us or else in $TMPDIR. It must survive a power cut before the
// first byte of the file changes, and a kill while it is written must not
// leave a copy that looks complete. The first of `names` numbered names
// that is free is taken. On failure copy.folder says where.
int write_recovery_copy(const FileHandle& file, const FilePiece* pieces, size_t count,
                        RecoveryCopy& copy, int names) {
    FileInfo st;
    if (int error = os_stat(file.fd, st)) return error;
    auto write_in = [&](const Fd& dir) {
        int error = EEXIST;
        for (int number = 1; number <= names && error == EEXIST; ++number) {
            copy.name = recovery_name(file.name, st.inode, number);
            error = write_new_file(dir, copy.name, pieces, count, 0600);
        }
        return error;
    };
    copy.folder = file.folder;
    int error = write_in(file.dir);
    if (!cannot_write_folder(error)) return error;
    copy.folder = temp_folder();
    error = os_open(nullptr, copy.folder, OPEN_FOLDER, copy.own_dir);
    return error != 0 ? error : write_in(copy.own_dir);
}

void remove_copy(const FileHandle& file, const RecoveryCopy& copy) {
    os_unlink(copy.dir(file), copy.name);
    os_flush(copy.dir(file));
}

} // namespace

int replace_in_place(FileHandle& file, const FilePiece* pieces, size_t count, uint64_t total,
                     WriteReport& report) {
    RecoveryCopy copy;
    if (int error = write_recovery_copy(file, pieces, count, copy, 1)) {
        report.copy_folder = copy.folder;
        return error;
    }
    // Until the first byte of the file changes, a failure leaves it intact
    // and the copy is of no use. Reserving the space first turns most "disk
    // full" failures into ones that happen before then.
    int error = name_moved(file);
    if (error == 0) {
        error = os_reserve(file.fd, total);
        if (error != ENOSPC && error != EDQUOT && error != EFBIG) error = 0;
    }
    if (error != 0) {
        remove_copy(file, copy);
        return error;
    }
    // From here on the copy is the only complete version until the file is
    // flushed: keep it even if we are killed, and let no signal cut the
    // write short.
    EndingsHeld held;
    os_hold_endings(held);
    error = os_write_pieces(file.fd, pieces, count);
    if (error == 0) error = os_truncate(file.fd, total);
    if (error == 0) error = os_flush(file.fd);
    if (error == 0)
        remove_copy(file, copy);
    else
        report.kept_copy = copy.path();
    os_release_endings(held);
    return error;
}

int keep_recovery_copy(const FileHandle& file, const FilePiece* pieces, size_t count,
                       WriteReport& report) {
    if (!file.dir.valid()) return file.error;
    if (!file.fd.valid()) return ENOENT;
    RecoveryCopy copy;
    int error = write_recovery_copy(file, pieces, count, copy, RECOVERY_NAMES);
    if (error != 0)
        report.copy_folder = copy.folder;
    else
        report.kept_copy = copy.path();
    return error;
}

std::string find_recovery_copy(const FileHandle& file) {
    FileInfo st;
    if (!file.fd.valid() || os_stat(file.fd, st) != 0) return "";
    const std::string temp = temp_folder();
    Fd temp_dir;
    os_open(nullptr, temp, OPEN_FOLDER, temp_dir);
    // Only a regular file of ours: anyone may put anything in /tmp.
    auto ours = [](const Fd& dir, const std::string& name) {
        FileInfo copy;
        return dir.valid() && os_stat_at(dir, name, copy) == 0 && copy.kind == KIND_REGULAR &&
               copy.owner == os_user();
    };
    for (int number = 1; number <= RECOVERY_NAMES; ++number) {
        const std::string name = recovery_name(file.name, st.inode, number);
        if (ours(file.dir, name)) return file.folder + "/" + name;
        if (ours(temp_dir, name)) return temp + "/" + name;
    }
    // A file with several names is saved in place, and its copy is named
    // after the name that save was given: look for a copy of this inode
    // under any name.
    if (st.links < 2) return "";
    const std::string tail = RECOVERY_TAG + std::to_string(st.inode);
    auto any_name = [&](const Fd& dir) -> std::string {
        std::vector<std::string> names;
        if (!dir.valid() || os_list(dir, names) != 0) return "";
        for (const std::string& entry : names)
            if (entry.size() > tail.size() &&
                entry.compare(entry.size() - tail.size(), tail.size(), tail) == 0 &&
                ours(dir, entry))
                return entry;
        return "";
    };
    std::string found = any_name(file.dir);
    if (!found.empty()) return file.folder + "/" + found;
    found = any_name(temp_dir);
    return found.empty() ? "" : temp + "/" + found;
}
