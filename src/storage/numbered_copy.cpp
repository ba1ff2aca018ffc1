// Keeping an old file as NAME.~N~ before it is replaced, as
// cp --backup=numbered names such copies.
#include "new_file.h"
#include "safe_file.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <vector>

namespace {

// The highest N of the names NAME.~N~ in the folder; 0 when there is none
// or the folder cannot be listed.
uint64_t highest_numbered_copy(const Fd& dir, const std::string& name) {
    const std::string prefix = name + ".~";
    std::vector<std::string> names;
    uint64_t highest = 0;
    if (os_list(dir, names) != 0) return 0;
    for (const std::string& entry : names) {
        if (entry.compare(0, prefix.size(), prefix) != 0 || entry.size() == prefix.size() ||
            !isdigit((unsigned char)entry[prefix.size()]))
            continue;
        uint64_t n = 0;
        size_t at = prefix.size();
        for (; at < entry.size() && isdigit((unsigned char)entry[at]) && at - prefix.size() < 18;
             ++at)
            n = n * 10 + uint64_t(entry[at] - '0');
        if (entry.compare(at, std::string::npos, "~") == 0) highest = std::max(highest, n);
    }
    return highest;
}

// The whole file, at most `limit` bytes, and its permission bits.
int read_whole(const FileHandle& file, uint64_t limit, std::vector<uint8_t>& bytes,
               uint32_t& mode) {
    FileInfo st;
    if (!file.readable) return EACCES; // writable, not readable
    if (int error = os_stat(file.fd, st)) return error;
    if (st.size > limit) return EFBIG;
    if (int error = os_rewind(file.fd)) return error;
    bytes.resize(size_t(st.size));
    size_t got = 0;
    if (int error = os_read(file.fd, bytes.data(), bytes.size(), got)) return error;
    bytes.resize(got); // it may have shrunk meanwhile
    mode = st.mode & 0777;
    return 0;
}

} // namespace

int keep_numbered_copy(const FileHandle& file, const Fd& folder, const std::string& name,
                       uint64_t limit, uint64_t& number) {
    assert(file.fd.valid());
    number = 1;
    // Opened for listing and flushing; `folder` may be a path descriptor.
    Fd dir;
    if (int error = os_open(&folder, ".", OPEN_FOLDER, dir)) return error;
    number = highest_numbered_copy(dir, name) + 1;
    std::vector<uint8_t> bytes;
    uint32_t mode = 0600;
    int error = read_whole(file, limit, bytes, mode);
    // A copy made meanwhile by someone else takes the number: take the next.
    const FilePiece piece = {bytes.data(), bytes.size()};
    for (int attempt = 1; error == 0; ++attempt, ++number) {
        error = write_new_file(dir, name + ".~" + std::to_string(number) + "~", &piece, 1, mode);
        if (error != EEXIST || attempt == 100) break;
        error = 0;
    }
    return error;
}
