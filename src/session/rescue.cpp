// Work kept from a session ended from outside, and given back to the next
// session of the same file.
#include "session.h"

#include "../arrangement/swap_list.h"
#include "../storage/new_file.h"
#include "../storage/safe_file.h"

#include <cstdio>

namespace {

const char RESCUE_TAG[] = ".kelbo-rescue-";
const char RECORD[] = ".origin";
constexpr uint64_t RECORD_LIMIT = 64 * 1024;

// Which file, and which version of it on disk, a rescue was made from.
struct Record {
    std::string path; // resolved
    FileStamp stamp;
    uint32_t checksum = 0;
};

std::string resolved_path(const Session& s) {
    std::string folder;
    return os_folder_path(s.file.dir, folder) == 0 ? folder + "/" + s.file.name : "";
}

// One line per fact; the path last, since it may hold any byte.
std::string record_text(const Record& r) {
    char numbers[256];
    snprintf(numbers, sizeof numbers,
             "kelbo-tool rescue\ndevice %llu\ninode %llu\nsize %llu\nmodified %lld %lld\n"
             "checksum %lu\npath ",
             (unsigned long long)r.stamp.device, (unsigned long long)r.stamp.inode,
             (unsigned long long)r.stamp.size, (long long)r.stamp.modified_s,
             (long long)r.stamp.modified_ns, (unsigned long)r.checksum);
    return numbers + r.path + "\n";
}

bool parse_record(const std::string& text, Record& r) {
    unsigned long long device, inode, size;
    long long seconds, nanoseconds;
    unsigned long checksum;
    int path_at = 0;
    if (sscanf(text.c_str(),
               "kelbo-tool rescue\ndevice %llu\ninode %llu\nsize %llu\nmodified %lld %lld\n"
               "checksum %lu\npath %n",
               &device, &inode, &size, &seconds, &nanoseconds, &checksum, &path_at) != 6 ||
        path_at == 0 || text.back() != '\n')
        return false;
    r.stamp = {true, device, inode, size, seconds, nanoseconds};
    r.checksum = uint32_t(checksum);
    r.path = text.substr(size_t(path_at), text.size() - 1 - size_t(path_at));
    return true;
}

// The caller's own regular file `name` in the folder, if it is small.
bool read_small(const Fd& dir, const std::string& name, std::string& text) {
    Fd fd;
    FileInfo info;
    size_t got = 0;
    if (os_stat_at(dir, name, info) != 0 || info.kind != KIND_REGULAR || info.owner != os_user() ||
        info.size > RECORD_LIMIT || os_open(&dir, name, OPEN_READ, fd) != 0)
        return false;
    text.resize(size_t(info.size));
    if (os_read(fd, reinterpret_cast<uint8_t*>(&text[0]), text.size(), got) != 0) return false;
    text.resize(got);
    return true;
}

void remove_rescue(const std::string& copy) {
    Fd dir;
    std::string folder;
    if (copy.empty() || open_private_folder(dir, folder, false) != 0) return;
    const std::string name = copy.substr(copy.rfind('/') + 1);
    for (const char* part : {RECORD, ".swaps", ""}) os_unlink(dir, name + part);
    os_flush(dir);
}

} // namespace

std::string session_rescue(Session& s) {
    Arrangement& a = s.arrangement;
    if (!history_unsaved(a)) return "";
    // The session ends, so the held tiles may as well go back in its own
    // tables.
    fill_empty_positions(a);
    std::string copy;
    StorageStatus status = tileset_save(s.tileset, s.file, &copy);
    if (!status) return storage_message(status);
    // The list goes from the file as it is on disk to the copy.
    std::vector<uint32_t> where(a.tile_count), tile_at(a.tile_count);
    for (uint32_t q = 0; q < a.tile_count; ++q) where[s.disk_origin[q]] = q;
    for (uint32_t p = 0; p < a.tile_count; ++p) tile_at[p] = where[a.origin[p]];
    status = write_swap_list((copy + ".swaps").c_str(), tile_at.data(), a.tile_count);
    // The record last: a rescue is offered back only once it is whole.
    Fd dir;
    std::string folder;
    const std::string text = record_text({resolved_path(s), s.disk_stamp, s.disk_checksum});
    const FilePiece piece = {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
    if (status && open_private_folder(dir, folder, true) == 0 &&
        write_new_file(dir, copy.substr(copy.rfind('/') + 1) + RECORD, &piece, 1, 0600) == 0)
        remove_rescue(s.restored); // this one holds its work and more
    return storage_message(status) + "The new content is kept in: " + printable(copy) + "\n";
}

Restored session_restore(Session& s) {
    Fd dir;
    std::string folder, text, best;
    std::vector<std::string> names;
    const std::string path = resolved_path(s);
    if (path.empty() || open_private_folder(dir, folder, false) != 0 || os_list(dir, names) != 0)
        return {};
    // The newest of the rescues of this file.
    Record found;
    int64_t newest = INT64_MIN;
    for (const std::string& name : names) {
        Record r;
        FileInfo info;
        const size_t tag = name.find(RESCUE_TAG);
        if (tag == std::string::npos || name.size() < sizeof RECORD ||
            name.compare(name.size() - (sizeof RECORD - 1), std::string::npos, RECORD) != 0 ||
            !read_small(dir, name, text) || !parse_record(text, r) || r.path != path ||
            os_stat_at(dir, name, info) != 0 || info.modified_s < newest)
            continue;
        newest = info.modified_s;
        found = r;
        best = folder + "/" + name.substr(0, name.size() - (sizeof RECORD - 1));
    }
    if (best.empty()) return {};
    SwapList list;
    Arrangement& a = s.arrangement;
    const uint32_t capacity = capacity_for(s.tileset.version);
    const bool same = same_stamp(found.stamp, s.disk_stamp) && found.checksum == s.disk_checksum;
    if (!same || !read_swap_list((best + ".swaps").c_str(), list) ||
        !check_list(list, capacity, a.tile_count).clean())
        return {RESTORE_FILE_CHANGED, best};
    history_begin_edit(a);
    place_tiles(a, replay_map(list, capacity));
    history_end_edit(a, false);
    s.restored = best;
    return {RESTORE_DONE, best};
}

void session_forget_rescue(Session& s) {
    remove_rescue(s.restored);
    s.restored.clear();
}
