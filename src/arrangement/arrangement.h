// Arrangement: where every tile came from, the selection, the holding area,
// their primitive moves, the editing commands, the swap list and the batch
// replay.
//
//   Arrangement a = {};
//   arrangement_init(a, tileset);           // origin[i] = i, nothing selected
//   set_selected(a, 14, 1);
//   cut_selection(a);                      // tile 14 into the holding area
//   fill_empty_positions(a);               // and back again
//   arrangement_free(a);
//
// The editing functions stay below `tile_count` (the usable count of the
// loaded tileset); only the batch replay, which works on the file and not
// on an arrangement, writes any entry its list names. Nothing here draws or
// reads input, and only the batch route prints.
#pragma once

#include "../storage/tileset.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr uint32_t HOLDING_CAPACITY = 160; // one screenful of cells
constexpr uint32_t NO_POSITION = UINT32_MAX;

struct HoldingArea {
    TileRecord records[HOLDING_CAPACITY];
};

// Undo and redo of edits; see history_begin_edit below.
struct History;
struct HistoryDeleter {
    void operator()(History* history) const;
};

struct Arrangement {
    TileInfoView info;            // the loaded tables
    uint32_t tile_count;          // positions 0 .. tile_count - 1
    std::vector<uint32_t> origin; // tile index at load time; 0 = empty (but position 0)
    // Whose entries, as loaded, the tables hold at each position: the tile
    // standing there, or at an empty position the tile last there (a cut
    // leaves the entries behind).
    std::vector<uint16_t> tables_tile;
    std::vector<uint8_t> selected; // 0 or 1 per position
    uint32_t selected_count;
    HoldingArea holding;
    uint32_t holding_count;
    // Made by the first history_begin_edit or history_mark_saved.
    std::unique_ptr<History, HistoryDeleter> history;
};

// Binds to a tileset loaded with its info stream; identity arrangement, no
// history.
void arrangement_init(Arrangement& a, const TilesetFile& tileset);
void arrangement_free(Arrangement& a);

// --- primitives --------------------------------------------------------------

void swap_positions(Arrangement& a, uint32_t p, uint32_t q);
void exchange_with_holding(Arrangement& a, uint32_t p, uint32_t k);
void set_selected(Arrangement& a, uint32_t p, uint8_t value); // value 0 or 1
void clear_selection(Arrangement& a);
void toggle_row(Arrangement& a, uint32_t p, uint8_t paint);
// Both return NO_POSITION when nothing below tile_count qualifies.
uint32_t next_selected_after(const Arrangement& a, uint32_t p);
uint32_t next_empty_after(const Arrangement& a, uint32_t p);

// --- commands ----------------------------------------------------------------

void cut_selection(Arrangement& a);
void paste_selection(Arrangement& a, bool from_end);
void fill_empty_positions(Arrangement& a);
void sort_selection(Arrangement& a);
void place_holding_record(Arrangement& a, uint32_t k);
// Moves the selected positions, as one block in their order, so that the
// first lands on position t (or as far on as the block fits); every other
// position keeps its order and closes up. An empty position moves like a
// tile. The moved positions are the selection afterwards. Nothing happens
// with nothing selected or t not in 1 .. tile_count - 1.
void move_selection(Arrangement& a, uint32_t t);

// --- undo and redo ------------------------------------------------------------
//
// An edit is whatever one handling changes in the tables, `origin` or the
// holding area; the caller marks where each handling begins and ends:
//
//   history_begin_edit(a);
//   cut_selection(a);                  // any number of changes
//   history_end_edit(a, false);        // one edit, if anything changed
//   history_undo(a);                   // tables, origin, holding area and
//   history_redo(a);                   // selection as before / after it
//
// Selection-only handling makes no edit. A drag's handlings (`drag` true)
// add to one open edit until history_end_drag; a handling in between that
// makes an edit of its own ends the drag's edit first. A new edit drops
// what could have been redone. Entries are never edited, only moved, so an
// edit keeps just `tables_tile`, emptiness, held origins and selection,
// whole, before and after it, and undo and redo rewrite the positions whose
// tables tile changes from the entries as loaded; a full sort of 4095
// tiles costs about 17 KB, and the oldest edits are dropped once they take
// more than HISTORY_BYTE_LIMIT.
// Changes made outside a begin/end pair are taken as they are, not
// recorded; like all changes they must come from the functions above.

constexpr size_t HISTORY_BYTE_LIMIT = size_t(64) << 20;

void history_begin_edit(Arrangement& a);
void history_end_edit(Arrangement& a, bool drag);
void history_end_drag(Arrangement& a);
// Both end an open drag edit first; false when there is nothing to undo
// (redo).
bool history_undo(Arrangement& a);
bool history_redo(Arrangement& a);
// Memory the kept edits take, in bytes.
size_t history_bytes(const Arrangement& a);

// Whether the eight tables differ from those at the last mark (or from
// those when the history began). Kept up to date at every boundary, so
// asking costs nothing.
void history_mark_saved(Arrangement& a);
bool history_unsaved(const Arrangement& a);

// --- swap list and batch replay ------------------------------------------------

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
                              int folder = AT_FDCWD, const char* shown = nullptr,
                              FileStamp* ours = nullptr);
// Reads the file in pieces, so that even the largest list it accepts
// (64 MiB) never has to be held whole. On failure `why` (if given) says
// what was wrong.
bool read_swap_list(const char* path, SwapList& list, SwapListError* why = nullptr);
// Parses swap-list text already in memory; false on any byte that is not a
// digit or a separator.
bool parse_swap_list(const uint8_t* text, size_t length, SwapList& list,
                     SwapListError* why = nullptr);
// The batch route: replays the list onto the tileset file and says why
// when it cannot; false then.
bool run_batch(const char* tileset_path, const char* list_path);
// Prints what storage reported: its warnings, and why it failed.
void print_status(const StorageStatus& status);
// Prints what a tileset's load reported, then "Failed to load tileset!"
// when it failed; true when it loaded.
bool report_load(const StorageStatus& status);
// Reads a swap list, or prints why not: "Swap list PATH: REASON", a read
// error's own line, then "Failed to load swapfile!".
bool read_swap_list_or_say(const char* path, SwapList& list);

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
std::string swap_list_text(const uint32_t* tile_at, uint32_t count);
