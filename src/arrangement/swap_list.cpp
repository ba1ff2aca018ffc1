// The swap list: "from to" lines naming, for each changed position, the
// tile (by its index at load time) that now stands there.
#include "arrangement.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// Far beyond any list the editor writes (at most 4096 short lines).
constexpr uint64_t SWAP_LIST_LIMIT = 64u << 20;

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool is_separator(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Turns text into entries a piece at a time; a number may span pieces.
struct Parser {
    SwapList& list;
    uint64_t value;
    bool in_number;
    bool have_first;
    uint32_t first;
    uint64_t seen; // entries parsed, before any compaction
};

// Keeps, for each 12-bit position, only its last entry, in list order.
void compact(SwapList& list) {
    std::vector<uint32_t> last(4096, UINT32_MAX);
    for (size_t i = 0; i < list.entries.size(); ++i) last[list.entries[i] >> 16] = uint32_t(i);
    size_t kept = 0;
    for (size_t i = 0; i < list.entries.size(); ++i)
        if (last[list.entries[i] >> 16] == i) list.entries[kept++] = list.entries[i];
    list.entries.resize(kept);
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
    ++p.seen;
}

bool feed(Parser& p, const uint8_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = text[i];
        if (is_digit(c)) {
            p.value = p.value * 10 + (c - '0');
            if (p.value > UINT32_MAX) p.value = UINT32_MAX;
            p.in_number = true;
        } else if (!is_separator(c)) {
            return false;
        } else if (p.in_number) {
            end_number(p);
        }
    }
    return true;
}

// A last number with no partner is dropped.
void finish(Parser& p) {
    if (p.in_number) end_number(p);
    if (p.seen > SWAP_LIST_EXACT_ENTRIES) compact(p.list);
}

} // namespace

bool write_swap_list(const char* path, const uint32_t* origin, uint32_t tile_count, int folder,
                     const char* shown) {
    std::string text;
    char line[32];
    for (uint32_t i = 0; i < tile_count; ++i) {
        if (origin[i] == i) continue;
        int n = snprintf(line, sizeof line, "%i %i\n", int(origin[i]), int(i));
        text.append(line, size_t(n));
    }
    // Only the editor writes swap lists: it waits no longer than for its
    // tileset.
    FileHandle file;
    int error = 0;
    ReplaceResult result = {false, 0, {}, {}};
    if (lock_file(path, file, INTERACTIVE_LOCK_WAIT_MS, error, folder, shown)) {
        FilePiece piece = {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
        result = replace_file(file, &piece, 1);
    } else {
        result.error = error;
    }
    close_file(file);
    if (!result.ok)
        print_replace_failure("Failed to write swap list", shown ? shown : path, result);
    return result.ok;
}

bool parse_swap_list(const uint8_t* text, size_t length, SwapList& list) {
    list.entries.clear();
    Parser p = {list, 0, false, false, 0, 0};
    if (!feed(p, text, length)) return false;
    finish(p);
    return true;
}

bool read_swap_list(const char* path, SwapList& list) {
    uint64_t size = 0;
    int fd = open_regular_file(path, size);
    if (fd < 0) return false;
    // Judged by its measured size before anything is read.
    if (size > SWAP_LIST_LIMIT) {
        close(fd);
        return false;
    }
    // Only the measured size is read: a file that grows meanwhile is cut
    // there, one that shrinks is parsed as read.
    list.entries.clear();
    Parser p = {list, 0, false, false, 0, 0};
    uint8_t piece[65536];
    bool ok = true;
    for (uint64_t left = size; ok && left > 0;) {
        int64_t n = read_up_to(fd, piece, size_t(left < sizeof piece ? left : sizeof piece));
        if (n < 0) {
            print_read_failure(path);
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            ok = feed(p, piece, size_t(n));
            left -= uint64_t(n);
        }
    }
    close(fd);
    if (ok) finish(p);
    return ok;
}
