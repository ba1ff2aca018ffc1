// Arrangement: where every tile came from, the selection, the holding area,
// their primitive moves, the editing commands, the swap list and the batch
// replay.
//
//   Arrangement a = {};
//   arrangement_init(a, tileset);           // origin[i] = i, nothing selected
//   a.selected[14] = 1; a.selected_count = 1;
//   cut_selection(a);                      // tile 14 into the holding area
//   fill_empty_positions(a);               // and back again
//   arrangement_free(a);
//
// Every function stays below `tile_count` (the usable count of the loaded
// tileset). Nothing here draws, reads input or prints, except the swap-list
// writer and the batch route.
#pragma once

#include "../storage/tileset.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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
    TileInfoView info;             // the loaded tables
    uint32_t tile_count;           // positions 0 .. tile_count - 1
    std::vector<uint32_t> origin;  // tile index at load time; 0 = empty (but position 0)
    std::vector<uint8_t> selected; // 0 or 1 per position
    uint32_t selected_count;
    HoldingArea holding;
    uint32_t holding_count;
    std::unique_ptr<History, HistoryDeleter> history; // made by the first history_begin_edit
};

// Binds to a tileset loaded with its info stream; identity arrangement, no
// history.
void arrangement_init(Arrangement& a, const TilesetFile& tileset);
void arrangement_free(Arrangement& a);

// --- primitives --------------------------------------------------------------

void swap_positions(Arrangement& a, uint32_t p, uint32_t q);
void exchange_with_holding(Arrangement& a, uint32_t p, uint32_t k);
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
// what could have been redone. Edits are kept as change lists (a tile that
// only moved costs its two positions) and the oldest are dropped once they
// take more than HISTORY_BYTE_LIMIT; a full sort of 4095 tiles costs about
// 17 KB. Changes made outside a begin/end pair are taken as they are, not
// recorded.

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
// those when the history began). Kept up to date from what each handling,
// undo and redo changed, so asking costs nothing.
void history_mark_saved(Arrangement& a);
bool history_unsaved(const Arrangement& a);

// --- swap list and batch replay ------------------------------------------------

// One entry: from in bits 0-11, to in bits 16-27.
struct SwapList {
    std::vector<uint32_t> entries;
};

// Up to this many entries a list is kept exactly as written. A longer one
// (only a hand-made list can be) keeps just the last entry for each 12-bit
// position, in list order: the same replay, in bounded memory.
constexpr size_t SWAP_LIST_EXACT_ENTRIES = 8192;

// Writes "from to" for every position whose tile moved to the file `path`
// names (a relative one taken from `folder`), as replace_file writes a
// tileset. Prints a message, naming `shown` (default: `path`), and returns
// false when the file cannot be written.
bool write_swap_list(const char* path, const uint32_t* origin, uint32_t tile_count,
                     int folder = AT_FDCWD, const char* shown = nullptr);
// Reads the file in pieces, so that even the largest list it accepts
// (64 MiB) never has to be held whole.
bool read_swap_list(const char* path, SwapList& list);
// Parses swap-list text already in memory; false on any byte that is not a
// digit or a separator.
bool parse_swap_list(const uint8_t* text, size_t length, SwapList& list);
void run_batch(const char* tileset_path, const char* list_path);
