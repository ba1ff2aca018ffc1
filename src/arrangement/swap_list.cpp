// The swap list: "from to" lines naming, for each changed position, the
// tile (by its index at load time) that now stands there.
#include "swap_list.h"

#include "../storage/safe_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Far beyond any list the editor writes (at most 4096 short lines).
constexpr uint64_t SWAP_LIST_LIMIT = 64u << 20;

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool is_separator(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Turns text into entries a piece at a time; a number may span pieces.
struct Parser {
    SwapList& list;
    uint64_t value = 0;
    bool in_number = false;
    bool have_first = false;
    uint32_t first = 0;
    uint64_t line = 1;
    uint32_t first_line = 0; // where the pending first number began
    explicit Parser(SwapList& l) : list(l) {
        list.entries.clear();
        list.lines.clear();
        list.written = 0;
    }
};

// Keeps, for each 12-bit position, only its last entry, in list order.
void compact(SwapList& list) {
    std::vector<uint32_t> last(4096, UINT32_MAX);
    for (size_t i = 0; i < list.entries.size(); ++i) last[list.entries[i] >> 16] = uint32_t(i);
    size_t kept = 0;
    for (size_t i = 0; i < list.entries.size(); ++i) {
        if (last[list.entries[i] >> 16] != i) continue;
        list.entries[kept] = list.entries[i];
        list.lines[kept++] = list.lines[i];
    }
    list.entries.resize(kept);
    list.lines.resize(kept);
}

void end_number(Parser& p) {
    // Saturated at the largest 32-bit value, then only the low 12 bits count.
    uint32_t number = uint32_t(p.value) & 0xFFF;
    p.in_number = false;
    p.value = 0;
    if (!p.have_first) {
        p.first = number;
        p.have_first = true;
        return;
    }
    p.have_first = false;
    if (p.list.entries.size() == 2 * SWAP_LIST_EXACT_ENTRIES) compact(p.list);
    p.list.entries.push_back(number << 16 | p.first);
    p.list.lines.push_back(p.first_line);
    ++p.list.written;
}

bool feed(Parser& p, const uint8_t* text, size_t length, SwapListError* why) {
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = text[i];
        if (is_digit(c)) {
            if (!p.in_number && !p.have_first)
                p.first_line = uint32_t(std::min<uint64_t>(p.line, UINT32_MAX));
            p.value = p.value * 10 + (c - '0');
            if (p.value > UINT32_MAX) p.value = UINT32_MAX;
            p.in_number = true;
        } else if (!is_separator(c)) {
            if (why) {
                why->kind = SwapListError::BAD_BYTE;
                why->line = p.line;
                why->byte = c;
            }
            return false;
        } else {
            if (p.in_number) end_number(p);
            if (c == '\n') ++p.line;
        }
    }
    return true;
}

// A last number with no partner is dropped.
void finish(Parser& p) {
    if (p.in_number) end_number(p);
    if (p.list.written > SWAP_LIST_EXACT_ENTRIES) compact(p.list);
}

// In a sticky folder others may write, a list that is neither ours nor
// the folder owner's was put there by someone else, who could rewrite it
// before it is replayed: it is not ours to write, copy or adopt.
bool planted(const FileHandle& file) {
    FileInfo folder, list;
    if (!file.fd.valid() || os_stat(file.dir, folder) != 0 || os_stat(file.fd, list) != 0)
        return false;
    return (folder.mode & 01002) == 01002 && list.owner != os_user() && list.owner != folder.owner;
}

} // namespace

StorageStatus write_swap_list(const char* path, const uint32_t* origin, uint32_t tile_count,
                              const Fd* folder, const char* shown, FileStamp* ours) {
    const std::string text = swap_list_text(origin, tile_count, OS_LINE_END);
    if (!shown) shown = path;
    // Only the editor writes swap lists: it waits no longer than for its
    // tileset.
    FileHandle file;
    Fd entry; // the folder the path's own last name is in
    std::string kept;
    WriteReport report;
    const char* slash = strrchr(path, '/');
    int error =
        lock_file(path, file, INTERACTIVE_LOCK_WAIT_MS, folder, shown, ours ? &entry : nullptr);
    if (error == 0 && planted(file)) error = NOT_OURS;
    // Another session's list that could not be kept is not written over.
    if (error == 0 && ours && file.fd.valid() && !same_stamp(name_stamp(file), *ours))
        error = keep_numbered_copy(file, entry, slash ? slash + 1 : path, SWAP_LIST_LIMIT, kept);
    if (error == 0) {
        kept.clear(); // named only when keeping it failed
        const FilePiece piece = {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
        error = replace_file(file, &piece, 1, report);
        if (error == 0 && ours) *ours = name_stamp(file);
    }
    if (error == 0) return StorageStatus{};
    StorageStatus status = failed(LIST_WRITE, shown, file.not_regular ? NOT_REGULAR : error);
    status.detail = report.copy_folder;
    status.kept_copy = report.kept_copy;
    if (!kept.empty()) status.backup = std::string(shown) + ".~" + kept + "~";
    return status;
}

bool parse_swap_list(const uint8_t* text, size_t length, SwapList& list, SwapListError* why) {
    Parser p(list);
    if (!feed(p, text, length, why)) return false;
    finish(p);
    return true;
}

std::string describe(const SwapListError& error) {
    switch (error.kind) {
    case SwapListError::NOT_REGULAR: return "not a regular file";
    case SwapListError::TOO_LARGE: return "larger than 64 MiB";
    case SwapListError::BAD_BYTE: {
        char text[64];
        snprintf(text, sizeof text, "line %llu: unexpected byte 0x%02X",
                 (unsigned long long)error.line, unsigned(error.byte));
        return text;
    }
    case SwapListError::SYSTEM:
    case SwapListError::READ: break;
    }
    return strerror(error.error);
}

bool read_swap_list(const char* path, SwapList& list, SwapListError* why) {
    SwapListError local;
    if (!why) why = &local;
    Fd fd;
    FileInfo st;
    int error = os_open(nullptr, path, OPEN_READ_PATH, fd);
    if (error == 0) error = os_stat(fd, st);
    if (error != 0) {
        *why = {SwapListError::SYSTEM, error, 0, 0};
        return false;
    }
    // A FIFO or a device could block or never end; judged before any read.
    if (st.kind != KIND_REGULAR || st.size > SWAP_LIST_LIMIT) {
        why->kind = st.kind == KIND_REGULAR ? SwapListError::TOO_LARGE : SwapListError::NOT_REGULAR;
        return false;
    }
    // Only the measured size is read: a file that grows meanwhile is cut
    // there, one that shrinks is parsed as read.
    Parser p(list);
    uint8_t piece[65536];
    for (uint64_t left = st.size; left > 0;) {
        size_t n = 0;
        if ((error = os_read(fd, piece, size_t(std::min<uint64_t>(left, sizeof piece)), n))) {
            *why = {SwapListError::READ, error, 0, 0};
            return false;
        }
        if (n == 0) break;
        if (!feed(p, piece, n, why)) return false;
        left -= n;
    }
    finish(p);
    return true;
}
