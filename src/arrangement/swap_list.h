// Swap lists: "from to" lines naming, for each changed position, the tile
// (by its index at load time) that now stands there; reading and writing
// them, and what a list does to a tileset's tables as a whole.
#pragma once

#include "../storage/file_lock.h"
#include "../storage/status.h"

#include <cstdint>
#include <string>
#include <vector>

// One entry: from in bits 0-11, to in bits 16-27.
struct SwapList {
    std::vector<uint32_t> entries;
    std::vector<uint32_t> lines; // the (1-based) line each entry starts on
    uint64_t written = 0;        // entries in the text, however many were kept
};

// Why a swap list was refused.
struct SwapListError {
    enum Kind { SYSTEM, READ, NOT_REGULAR, TOO_LARGE, BAD_BYTE } kind = SYSTEM;
    int error = 0;     // errno: opening (SYSTEM) or reading (READ) failed
    uint64_t line = 0; // where the bad byte is, 1-based
    uint8_t byte = 0;
};
// The system's text, "not a regular file", "larger than 64 MiB" or
// "line L: unexpected byte 0xHH".
std::string describe(const SwapListError& error);

// Up to this many entries a list is kept exactly as written. A longer one
// (only a hand-made list can be) keeps just the last entry for each 12-bit
// position, in list order: the same replay, in bounded memory.
constexpr size_t SWAP_LIST_EXACT_ENTRIES = 8192;

// Writes "from to" for every position whose tile moved to the file `path`
// names (a relative one taken from `folder`), as replace_file writes a
// tileset. A failure (LIST_WRITE) names `shown` (default: `path`).
//
// With `ours` (the stamp of the list an editor session last wrote, not
// `exists` before its first), a list there that is not that one is first
// kept as PATH.~N~ (keep_numbered_copy), so that each session's list stays
// beside the next; when that fails, nothing is written. `ours` then stamps
// the list written.
StorageStatus write_swap_list(const char* path, const uint32_t* origin, uint32_t tile_count,
                              const Fd* folder = nullptr, const char* shown = nullptr,
                              FileStamp* ours = nullptr);
// Reads the file in pieces, so that even the largest list it accepts
// (64 MiB) never has to be held whole. On failure `why` (if given) says
// what was wrong.
bool read_swap_list(const char* path, SwapList& list, SwapListError* why = nullptr);
// Parses swap-list text already in memory; false on any byte that is not a
// digit or a separator.
bool parse_swap_list(const uint8_t* text, size_t length, SwapList& list,
                     SwapListError* why = nullptr);

// --- what a list does, without a replay -------------------------------------------
//
// A replay's effect is a map: for each of the tables' `capacity` positions,
// the tile (its index as loaded) that stands there afterwards.

std::vector<uint32_t> replay_map(const SwapList& list, uint32_t capacity);

// What a replay onto `tile_count` tiles would do wrong. Clean when it only
// rearranges the existing tiles.
struct ListCheck {
    uint64_t entries = 0; // as written, before a long list is compacted
    uint32_t changed = 0; // positions below tile_count whose tile changes
    struct PastEnd {
        uint32_t line, position;
    };
    std::vector<PastEnd> past_end; // entries that write at or past tile_count
    std::vector<uint32_t> nowhere; // tiles that would stand at no position
    struct Doubled {
        uint32_t tile;
        std::vector<uint32_t> positions;
    };
    std::vector<Doubled> doubled; // tiles that would stand at several
    struct Foreign {
        uint32_t line, position, tile; // the line of the entry that puts it there
    };
    std::vector<Foreign> foreign; // positions that would hold a tile past tile_count
    bool clean() const {
        return past_end.empty() && nowhere.empty() && doubled.empty() && foreign.empty();
    }
};
ListCheck check_list(const SwapList& list, uint32_t capacity, uint32_t tile_count);
// The map of replaying `first` and then `second`.
std::vector<uint32_t> replay_in_turn(const std::vector<uint32_t>& first,
                                     const std::vector<uint32_t>& second);
// The map that puts back what a clean replay's map moved.
std::vector<uint32_t> undoing(const std::vector<uint32_t>& tile_at, uint32_t tile_count);
// "from to" lines for every position whose tile is not its own.
// Each line ends with `line_end`: a list written to a file ends its lines
// as the system's text files do.
std::string swap_list_text(const uint32_t* tile_at, uint32_t count, const char* line_end = "\n");
