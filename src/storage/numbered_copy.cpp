// Keeping an old file as NAME.~N~ before it is replaced, as
// cp --backup=numbered names such copies.
#include "new_file.h"
#include "safe_file.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <set>
#include <vector>

namespace {

// Decimal numbers of any length, as text without leading zeros.
bool less(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::string plus_one(std::string n) {
    size_t i = n.size();
    while (i > 0 && n[i - 1] == '9') n[--i] = '0';
    if (i == 0) return "1" + n;
    ++n[i - 1];
    return n;
}

// The N of a name NAME.~N~, or "" for any other name.
std::string number_in(const std::string& entry, const std::string& prefix) {
    if (entry.size() < prefix.size() + 2 || entry.compare(0, prefix.size(), prefix) != 0 ||
        entry.back() != '~')
        return "";
    std::string n = entry.substr(prefix.size(), entry.size() - prefix.size() - 1);
    if (n.empty() ||
        !std::all_of(n.begin(), n.end(), [](char c) { return isdigit((unsigned char)c); }))
        return "";
    n.erase(0, std::min(n.find_first_not_of('0'), n.size()));
    return n.empty() ? "0" : n;
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
                       uint64_t limit, std::string& number) {
    assert(file.fd.valid());
    number = "1";
    // Opened for listing and flushing; `folder` may be a path descriptor.
    Fd dir;
    std::vector<std::string> names;
    if (int error = os_open(&folder, ".", OPEN_FOLDER, dir)) return error;
    if (int error = os_list(dir, names)) return error;
    // One more than the highest of the caller's own copies: anyone may put
    // names in a shared folder. A name taken is passed over.
    const std::string prefix = name + ".~";
    std::string highest = "0";
    std::set<std::string> taken(names.begin(), names.end());
    for (const std::string& entry : names) {
        const std::string n = number_in(entry, prefix);
        FileInfo copy;
        if (!n.empty() && less(highest, n) && os_stat_at(dir, entry, copy) == 0 &&
            copy.owner == os_user())
            highest = n;
    }
    number = plus_one(highest);
    std::vector<uint8_t> bytes;
    uint32_t mode = 0600;
    int error = read_whole(file, limit, bytes, mode);
    const FilePiece piece = {bytes.data(), bytes.size()};
    // A copy made meanwhile by someone else takes the number: take the next.
    for (int clash = 0; error == 0 && clash <= 100; ++clash) {
        while (taken.count(prefix + number + "~")) number = plus_one(number);
        error = write_new_file(dir, prefix + number + "~", &piece, 1, mode);
        if (error != EEXIST) break;
        taken.insert(prefix + number + "~");
    }
    return error;
}
