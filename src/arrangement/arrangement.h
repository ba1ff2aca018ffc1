// Arrangement: where every tile came from, the selection, the holding area,
// their primitive moves, the editing commands and their undo history.
//
//   Arrangement a = {};
//   arrangement_init(a, tileset);           // origin[i] = i, nothing selected
//   set_selected(a, 14, 1);
//   cut_selection(a);                      // tile 14 into the holding area
//   fill_empty_positions(a);               // and back again
//   arrangement_free(a);
//
// The editing functions stay below `tile_count` (the usable count of the
// loaded tileset). Nothing here draws, reads input or prints.
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
    size_t history_limit; // bytes the kept edits may take (HISTORY_BYTE_LIMIT)
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
// Puts tile tile_at[p] (its index as loaded) at each position p below
// tile_count; for an arrangement as loaded, and a map of its tiles.
void place_tiles(Arrangement& a, const std::vector<uint32_t>& tile_at);
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
// more than the arrangement's history_limit.
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
