// The swap list: "from to" lines naming, for each changed position, the
// tile (by its index at load time) that now stands there.
#include "arrangement.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Far beyond any list the editor writes (at most 4096 short lines).
constexpr uint64_t SWAP_LIST_LIMIT = 64u << 20;

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool is_separator(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Saturates at the largest 32-bit value instead of wrapping.
uint32_t parse_number(const uint8_t* text, size_t length, size_t& at) {
    uint64_t value = 0;
    for (; at < length && is_digit(text[at]); ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > UINT32_MAX) value = UINT32_MAX;
    }
    return uint32_t(value);
}

} // namespace

bool write_swap_list(const char* path, const uint32_t* origin, uint32_t tile_count) {
    std::string text;
    char line[32];
    for (uint32_t i = 0; i < tile_count; ++i) {
        if (origin[i] == i) continue;
        int n = snprintf(line, sizeof line, "%i %i\n", int(origin[i]), int(i));
        text.append(line, size_t(n));
    }
    FilePiece piece = {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
    ReplaceResult result = replace_file(path, &piece, 1, LOCK_NONE, nullptr);
    if (!result.ok) print_replace_failure("Failed to write swap list", path, result);
    return result.ok;
}

bool parse_swap_list(const uint8_t* text, size_t length, SwapList& list) {
    size_t numbers = 0;
    for (size_t i = 0; i < length; ++i) {
        if (is_digit(text[i])) {
            if (i == 0 || !is_digit(text[i - 1])) ++numbers;
        } else if (!is_separator(text[i])) {
            return false;
        }
    }
    list.entries.clear();
    list.entries.reserve(numbers / 2);
    size_t at = 0;
    uint32_t pair[2];
    int have = 0;
    while (list.entries.size() < numbers / 2) {
        while (!is_digit(text[at])) ++at;
        pair[have++] = parse_number(text, length, at) & 0xFFF;
        if (have == 2) {
            list.entries.push_back(pair[1] << 16 | pair[0]);
            have = 0;
        }
    }
    return true;
}

bool read_swap_list(const char* path, SwapList& list) {
    uint64_t size = 0;
    int fd = open_regular_file(path, size);
    if (fd < 0) return false;
    // Judged by its measured size before anything is allocated or read.
    if (size > SWAP_LIST_LIMIT) {
        close(fd);
        return false;
    }
    // Only the measured size is read: a file that grows meanwhile is cut
    // there, one that shrinks is parsed as read.
    uint8_t* text = static_cast<uint8_t*>(malloc(size_t(size) + 1));
    int64_t length = text ? read_up_to(fd, text, size_t(size)) : -1;
    if (text && length < 0) printf("Failed to read file: %s (%s)\n", path, strerror(errno));
    close(fd);
    bool ok = length >= 0 && parse_swap_list(text, size_t(length), list);
    free(text);
    return ok;
}
