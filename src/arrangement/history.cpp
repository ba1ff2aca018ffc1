// Undo and redo. Table entries are never edited, only moved, so the state
// a handling can change is small: per position the tile whose loaded
// entries the tables hold and whether one stands there, the held records'
// origins and the selection. The history keeps that state as it stood at
// the last boundary between handlings, and every tile's entries as loaded;
// an edit keeps the state before and after where it changed, and undo and
// redo write entries back only where the tables tile changes.
#include "arrangement.h"

#include <cassert>
#include <deque>
#include <utility>

namespace {

static_assert(LARGE_CAPACITY <= 0x8000, "a cell keeps its tile in 15 bits");
constexpr uint16_t EMPTY = 0x8000; // in a cell: no tile stands there

// The editable state at a boundary.
struct State {
    std::vector<uint16_t> cells; // per position: tables_tile, | EMPTY when empty
    std::vector<uint16_t> held;  // the held records' origins
    std::vector<uint8_t> selected;
    uint32_t selected_count = 0;
};

// Each pair is before and after.
struct Edit {
    std::vector<uint8_t> changed;     // one bit per position whose cell changed
    std::vector<uint16_t> cells[2];   // of those positions, in order
    std::vector<uint16_t> held[2];    // all held origins
    std::vector<uint8_t> selected[2]; // one bit per position; none after when as before
    uint32_t selected_count[2] = {};
    size_t bytes = 0;
};

bool bit(const std::vector<uint8_t>& bits, uint32_t p) { return (bits[p / 8] >> (p % 8)) & 1; }

} // namespace

struct History {
    std::vector<TileRecord> loaded; // by tile
    State mark;                     // at the last boundary
    bool drag_open = false;
    State before, after;         // the drag edit's ends (after: its last change)
    std::vector<uint16_t> saved; // tables_tile at the last save
    uint32_t unsaved = 0;        // positions whose entries differ from those saved
    std::deque<Edit> edits;
    size_t done = 0; // edits[0 .. done) are in effect
    size_t bytes = 0;
};

void HistoryDeleter::operator()(History* history) const { delete history; }

namespace {

uint16_t cell(const Arrangement& a, uint32_t p) {
    assert(a.origin[p] == 0 || a.origin[p] == a.tables_tile[p]);
    return uint16_t(a.tables_tile[p] | (p != 0 && a.origin[p] == 0 ? EMPTY : 0));
}

std::vector<uint16_t> held_of(const Arrangement& a) {
    assert(a.holding_count <= HOLDING_CAPACITY);
    std::vector<uint16_t> held(a.holding_count);
    for (uint32_t k = 0; k < a.holding_count; ++k) held[k] = uint16_t(a.holding.records[k].origin);
    return held;
}

bool tiles_changed(const Arrangement& a, const History& h) {
    if (held_of(a) != h.mark.held) return true;
    for (uint32_t p = 0; p < a.tile_count; ++p)
        if (cell(a, p) != h.mark.cells[p]) return true;
    return false;
}

bool differs(const History& h, uint32_t t, uint32_t u) {
    const TileRecord &x = h.loaded[t], &y = h.loaded[u];
    return t != u &&
           (x.attr_a != y.attr_a || x.attr_b != y.attr_b || x.image_offset != y.image_offset ||
            x.word1 != y.word1 || x.word2 != y.word2 || x.word3 != y.word3 || x.word4 != y.word4 ||
            x.word5 != y.word5);
}

// Takes the live state as the mark, counting the positions whose entries
// now differ from those saved.
void settle(const Arrangement& a, History& h) {
    for (uint32_t p = 0; p < a.tile_count; ++p) {
        uint16_t now = cell(a, p), was = h.mark.cells[p];
        if (now == was) continue;
        h.mark.cells[p] = now;
        uint16_t is = now & ~EMPTY, old = was & ~EMPTY;
        if (is != old) h.unsaved += differs(h, is, h.saved[p]) - differs(h, old, h.saved[p]);
    }
    h.mark.held = held_of(a);
    h.mark.selected = a.selected;
    h.mark.selected_count = a.selected_count;
}

std::vector<uint8_t> bits_of(const std::vector<uint8_t>& selected) {
    std::vector<uint8_t> bits((selected.size() + 7) / 8, 0);
    for (uint32_t p = 0; p < selected.size(); ++p) bits[p / 8] |= uint8_t(selected[p] << (p % 8));
    return bits;
}

template <typename T> size_t bytes_of(const std::vector<T>& v) { return v.capacity() * sizeof(T); }

Edit make_edit(const State& before, const State& after) {
    Edit e;
    const uint32_t n = uint32_t(before.cells.size());
    e.changed.assign((n + 7) / 8, 0);
    for (uint32_t p = 0; p < n; ++p) {
        if (before.cells[p] == after.cells[p]) continue;
        e.changed[p / 8] |= uint8_t(1u << (p % 8));
        e.cells[0].push_back(before.cells[p]);
        e.cells[1].push_back(after.cells[p]);
    }
    e.selected[0] = bits_of(before.selected);
    if (after.selected != before.selected) e.selected[1] = bits_of(after.selected);
    e.bytes = sizeof(Edit) + bytes_of(e.changed);
    for (int i = 0; i < 2; ++i) {
        const State& s = i ? after : before;
        e.cells[i].shrink_to_fit();
        e.held[i] = s.held;
        e.selected_count[i] = s.selected_count;
        e.bytes += bytes_of(e.cells[i]) + bytes_of(e.held[i]) + bytes_of(e.selected[i]);
    }
    return e;
}

// Keeps a new edit: what could have been redone goes, and then the oldest
// edits while the rest take more than the limit.
void keep(History& h, Edit&& e) {
    for (; h.edits.size() > h.done; h.edits.pop_back()) h.bytes -= h.edits.back().bytes;
    h.bytes += e.bytes;
    h.edits.push_back(std::move(e));
    for (; h.bytes > HISTORY_BYTE_LIMIT && h.edits.size() > 1; h.edits.pop_front())
        h.bytes -= h.edits.front().bytes;
    h.done = h.edits.size();
}

void close_drag(History& h) {
    if (!h.drag_open) return;
    h.drag_open = false;
    if (h.before.cells != h.after.cells || h.before.held != h.after.held)
        keep(h, make_edit(h.before, h.after));
}

// Puts back one side of an edit, entries from the tiles as loaded.
void apply(Arrangement& a, History& h, const Edit& e, int side) {
    size_t i = 0;
    for (uint32_t p = 0; p < a.tile_count; ++p) {
        if (!bit(e.changed, p)) continue;
        uint16_t c = e.cells[side][i++], tile = c & ~EMPTY;
        if (a.tables_tile[p] != tile) record_to_tile(a.info, h.loaded[tile], p);
        a.tables_tile[p] = tile;
        a.origin[p] = c & EMPTY ? 0 : tile;
    }
    const std::vector<uint16_t>& held = e.held[side];
    a.holding_count = uint32_t(held.size());
    for (uint32_t k = 0; k < a.holding_count; ++k) {
        a.holding.records[k] = h.loaded[held[k]];
        a.holding.records[k].origin = held[k];
    }
    const std::vector<uint8_t>& selected = e.selected[e.selected[side].empty() ? 0 : side];
    for (uint32_t p = 0; p < a.tile_count; ++p) a.selected[p] = bit(selected, p);
    a.selected_count = e.selected_count[side];
    settle(a, h);
}

// Makes the history on first use, taking each tile's entries from where
// they are now; false when the arrangement has one.
bool make_history(Arrangement& a) {
    if (a.history) {
        assert(a.history->mark.cells.size() == a.tile_count); // a new init drops the history
        return false;
    }
    a.history.reset(new History);
    History& h = *a.history;
    h.loaded.resize(a.tile_count);
    h.mark.cells.resize(a.tile_count);
    for (uint32_t p = 0; p < a.tile_count; ++p) {
        h.loaded[a.tables_tile[p]] = tile_to_record(a.info, p, a.tables_tile[p]);
        h.mark.cells[p] = cell(a, p);
    }
    for (uint32_t k = 0; k < a.holding_count; ++k)
        h.loaded[a.holding.records[k].origin] = a.holding.records[k];
    h.saved = a.tables_tile;
    settle(a, h);
    return true;
}

bool step(Arrangement& a, bool undo) {
    if (!a.history) return false;
    History& h = *a.history;
    close_drag(h);
    if (undo ? h.done == 0 : h.done == h.edits.size()) return false;
    apply(a, h, undo ? h.edits[--h.done] : h.edits[h.done++], undo ? 0 : 1);
    return true;
}

} // namespace

void history_begin_edit(Arrangement& a) {
    // Anything changed since the last boundary is taken as it is.
    if (!make_history(a)) settle(a, *a.history);
}

void history_end_edit(Arrangement& a, bool drag) {
    if (!a.history) return;
    History& h = *a.history;
    if (!tiles_changed(a, h)) {
        settle(a, h);
        return;
    }
    if (!drag) close_drag(h);
    if (!h.drag_open) h.before = h.mark;
    h.drag_open = drag;
    settle(a, h);
    if (drag)
        h.after = h.mark;
    else
        keep(h, make_edit(h.before, h.mark));
}

void history_end_drag(Arrangement& a) {
    if (a.history) close_drag(*a.history);
}

bool history_undo(Arrangement& a) { return step(a, true); }
bool history_redo(Arrangement& a) { return step(a, false); }

size_t history_bytes(const Arrangement& a) { return a.history ? a.history->bytes : 0; }

void history_mark_saved(Arrangement& a) {
    if (make_history(a)) return;
    settle(a, *a.history);
    a.history->saved = a.tables_tile;
    a.history->unsaved = 0;
}

bool history_unsaved(const Arrangement& a) { return a.history && a.history->unsaved != 0; }
