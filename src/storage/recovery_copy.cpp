// The in-place path of a save, behind a complete recovery copy, and the
// copies the program keeps: where they go, and which of them a load heeds.
#include "file_lock.h"
#include "new_file.h"
#include "safe_file.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

const char RECOVERY_TAG[] = ".kelbo-recovery-";

// What a recovery copy's name records of its file, after the file's name:
// the tag, the device and the inode. A random part follows.
std::string recovery_record(const FileInfo& file) {
    char numbers[48];
    snprintf(numbers, sizeof numbers, "%llx-%llx-", (unsigned long long)file.device,
             (unsigned long long)file.inode);
    return RECOVERY_TAG + std::string(numbers);
}

// `name`, cut so that it fits a folder with `tail`, a random part and a
// suffix of up to 8 bytes (a rescue's ".swaps" and ".origin").
std::string stem(const std::string& name, const std::string& tail) {
    const size_t room = OS_NAME_MAX - tail.size() - RANDOM_PART - 8;
    return name.substr(0, std::min(name.size(), room)) + tail;
}

// Whether only the caller may put names in the folder.
bool only_ours(const Fd& dir) {
    FileInfo f;
    return !os_path_only(dir) && os_stat(dir, f) == 0 && f.owner == os_user() && !(f.mode & 022);
}

struct Copy {
    Fd own_dir; // the private folder, when not the file's own
    std::string name;
    std::string folder; // the folder as a path, for messages
    const Fd& dir(const FileHandle& file) const { return own_dir.valid() ? own_dir : file.dir; }
    std::string path() const { return folder + "/" + name; }
};

// Writes a copy named after the file and `tail` beside the file when only
// the caller may write there, else in the private folder. It must survive a
// power cut, and a kill while it is written must not leave a copy that
// looks complete. On failure copy.folder says where.
int write_copy(const FileHandle& file, const std::string& tail, bool beside,
               const FilePiece* pieces, size_t count, Copy& copy) {
    const std::string name = stem(file.name, tail);
    if (beside && only_ours(file.dir)) {
        copy.folder = file.folder;
        int error = write_unpredictable(file.dir, name, pieces, count, copy.name);
        if (!cannot_write_folder(error)) return error;
    }
    int error = open_private_folder(copy.own_dir, copy.folder, true);
    return error ? error : write_unpredictable(copy.own_dir, name, pieces, count, copy.name);
}

// A recovery copy of the file in `dir`: ours, and recording its device and inode.
std::string copy_in(const Fd& dir, const std::string& record) {
    std::vector<std::string> names;
    if (!dir.valid() || os_list(dir, names) != 0) return "";
    for (const std::string& entry : names) {
        FileInfo copy;
        const size_t at = entry.size() - std::min(entry.size(), record.size() + RANDOM_PART);
        if (entry.size() > record.size() + RANDOM_PART &&
            entry.compare(at, record.size(), record) == 0 && os_stat_at(dir, entry, copy) == 0 &&
            copy.kind == KIND_REGULAR && copy.owner == os_user())
            return entry;
    }
    return "";
}

} // namespace

int open_private_folder(Fd& dir, std::string& path, bool create) {
    const std::string base = os_state_folder();
    if (base.empty()) return ENOENT; // no home to keep it in
    path = base + "/kelbo-tool";
    for (size_t slash = path.find('/', 1); create; slash = path.find('/', slash + 1)) {
        int error = os_make_folder(nullptr, path.substr(0, slash), 0700);
        if (error != 0 && error != EEXIST) return error;
        if (slash == std::string::npos) break;
    }
    FileInfo info;
    int error = os_open(nullptr, path, OPEN_FOLDER, dir);
    if (error == 0) error = os_stat(dir, info);
    if (error == 0 && info.owner != os_user()) error = EACCES;
    if (error == 0 && (info.mode & 077)) error = os_set_mode(dir, 0700);
    if (error != 0) dir.reset();
    return error;
}

int replace_in_place(FileHandle& file, const FilePiece* pieces, size_t count, uint64_t total,
                     WriteReport& report) {
    FileInfo st;
    Copy copy;
    int error = os_stat(file.fd, st);
    if (error == 0) error = write_copy(file, recovery_record(st), true, pieces, count, copy);
    if (error != 0) {
        report.copy_folder = copy.folder;
        return error;
    }
    // Until the first byte of the file changes, a failure leaves it intact
    // and the copy is of no use. Reserving the space first turns most "disk
    // full" failures into ones that happen before then.
    error = name_moved(file);
    if (error == 0) {
        error = os_reserve(file.fd, total);
        if (error != ENOSPC && error != EDQUOT && error != EFBIG) error = 0;
    }
    // From here on the copy is the only complete version until the file is
    // flushed: keep it even if we are killed, and let no signal cut the
    // write short.
    EndingsHeld held;
    os_hold_endings(held);
    const bool touched = error == 0;
    if (touched) error = os_write_pieces(file.fd, pieces, count);
    if (touched && error == 0) error = os_truncate(file.fd, total);
    if (touched && error == 0) error = os_flush(file.fd);
    if (touched && error != 0) {
        report.kept_copy = copy.path();
    } else {
        os_unlink(copy.dir(file), copy.name);
        os_flush(copy.dir(file));
    }
    os_release_endings(held);
    return error;
}

int keep_private_copy(const FileHandle& file, const std::string& tag, const FilePiece* pieces,
                      size_t count, WriteReport& report) {
    if (!file.dir.valid()) return file.error;
    Copy copy;
    int error = write_copy(file, tag, false, pieces, count, copy);
    if (error != 0)
        report.copy_folder = copy.folder;
    else
        report.kept_copy = copy.path();
    return error;
}

std::string find_recovery_copy(const FileHandle& file) {
    FileInfo st;
    if (!file.fd.valid() || os_stat(file.fd, st) != 0) return "";
    const std::string record = recovery_record(st);
    std::string found = copy_in(file.dir, record);
    if (!found.empty()) return file.folder + "/" + found;
    Fd own;
    std::string folder;
    if (open_private_folder(own, folder, false) != 0) return "";
    found = copy_in(own, record);
    return found.empty() ? "" : folder + "/" + found;
}
