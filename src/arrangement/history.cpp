// Undo and redo. Table entries are never edited, only moved, so the state
// a handling can change is small: per position the tile whose loaded
// entries the tables hold and whether one stands there, the held records'
// origins and the selection. An edit keeps that state whole as it was
// before and after; undo and redo put one side back, writing entries, from
// every tile's entries as loaded, only where the tables tile changes.
#include "arrangement.h"

#include <cassert>
#include <deque>
#include <utility>

namespace {

static_assert(LARGE_CAPACITY <= 0x8000, "a cell keeps its tile in 15 bits");
constexpr uint16_t EMPTY = 0x8000; // in a cell: no tile stands there

struct State {
    std::vector<uint16_t> cells;   // per position: tables_tile, | EMPTY when empty
    std::vector<uint16_t> held;    // the held records' origins
    std::vector<uint8_t> selected; // a byte per position; a bit once kept in an edit
    uint32_t selected_count = 0;
    bool same_tiles(const State& o) const { return cells == o.cells && held == o.held; }
    size_t bytes() const {
        return cells.capacity() * 2 + held.capacity() * 2 + selected.capacity();
    }
};

struct Edit {
    State before, after;
};

} // namespace

struct History {
    std::vector<TileRecord> loaded; // by tile
    State mark;                     // at the last boundary
    State now;                      // the live state, in buffers kept between handlings
    bool drag_open = false;
    Edit drag;                   // the open drag's ends (after: its last change)
    std::vector<uint16_t> saved; // tables_tile at the last save
    uint32_t unsaved = 0;        // positions whose entries differ from those saved
    std::deque<Edit> edits;
    size_t done = 0; // edits[0 .. done) are in effect
    size_t bytes = 0;
};

void HistoryDeleter::operator()(History* history) const { delete history; }

namespace {

// The live state; each handling reads it twice, so into kept buffers.
State& state_of(const Arrangement& a, State& s) {
    assert(a.holding_count <= HOLDING_CAPACITY);
    const uint32_t n = a.tile_count;
    s.cells.resize(n);
    for (uint32_t p = 0; p < n; ++p) {
        assert(a.origin[p] == 0 || a.origin[p] == a.tables_tile[p]);
        s.cells[p] = uint16_t(a.tables_tile[p] | (a.origin[p] == 0) << 15);
    }
    if (n > 0) s.cells[0] &= ~EMPTY; // position 0 is never empty
    s.selected = a.selected;
    s.held.resize(a.holding_count);
    for (uint32_t k = 0; k < a.holding_count; ++k)
        s.held[k] = uint16_t(a.holding.records[k].origin);
    s.selected_count = a.selected_count;
    return s;
}

bool differs(const History& h, uint32_t t, uint32_t u) {
    return t != u && !same_entries(h.loaded[t], h.loaded[u]);
}

// Takes h.now as the mark, counting the positions whose entries now
// differ from those saved.
void settle(History& h) {
    for (uint32_t p = 0; p < h.now.cells.size(); ++p) {
        uint32_t is = h.now.cells[p] & ~EMPTY, was = h.mark.cells[p] & ~EMPTY;
        if (is != was) h.unsaved += differs(h, is, h.saved[p]) - differs(h, was, h.saved[p]);
    }
    std::swap(h.mark, h.now);
}

// An edit's selection takes a bit per position.
void pack(State& s) {
    std::vector<uint8_t> bits((s.selected.size() + 7) / 8, 0);
    for (uint32_t p = 0; p < s.selected.size(); ++p)
        bits[p / 8] |= uint8_t(s.selected[p] << (p % 8));
    s.selected = std::move(bits);
}

// Keeps a new edit: what could have been redone goes, and then the oldest
// edits while the rest take more than the limit.
void keep(History& h, Edit&& e, size_t limit) {
    pack(e.before);
    pack(e.after);
    for (; h.edits.size() > h.done; h.edits.pop_back())
        h.bytes -= h.edits.back().before.bytes() + h.edits.back().after.bytes();
    h.bytes += e.before.bytes() + e.after.bytes();
    h.edits.push_back(std::move(e));
    for (; h.bytes > limit && h.edits.size() > 1; h.edits.pop_front())
        h.bytes -= h.edits.front().before.bytes() + h.edits.front().after.bytes();
    h.done = h.edits.size();
}

void close_drag(History& h, size_t limit) {
    if (!h.drag_open) return;
    h.drag_open = false;
    if (!h.drag.before.same_tiles(h.drag.after)) keep(h, std::move(h.drag), limit);
}

// Puts `to` back, entries from the tiles as loaded.
void apply(Arrangement& a, History& h, const State& to) {
    for (uint32_t p = 0; p < a.tile_count; ++p) {
        uint16_t tile = to.cells[p] & ~EMPTY;
        if (a.tables_tile[p] != tile) record_to_tile(a.info, h.loaded[tile], p);
        a.tables_tile[p] = tile;
        a.origin[p] = to.cells[p] & EMPTY ? 0 : tile;
        a.selected[p] = (to.selected[p / 8] >> (p % 8)) & 1;
    }
    a.holding_count = uint32_t(to.held.size());
    for (uint32_t k = 0; k < a.holding_count; ++k) {
        a.holding.records[k] = h.loaded[to.held[k]];
        a.holding.records[k].origin = to.held[k];
    }
    a.selected_count = to.selected_count;
    state_of(a, h.now);
    settle(h);
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
    for (uint32_t p = 0; p < a.tile_count; ++p)
        h.loaded[a.tables_tile[p]] = tile_to_record(a.info, p, a.tables_tile[p]);
    for (uint32_t k = 0; k < a.holding_count; ++k)
        h.loaded[a.holding.records[k].origin] = a.holding.records[k];
    h.saved = a.tables_tile;
    state_of(a, h.mark);
    return true;
}

bool step(Arrangement& a, bool undo) {
    if (!a.history) return false;
    History& h = *a.history;
    close_drag(h, a.history_limit);
    if (undo ? h.done == 0 : h.done == h.edits.size()) return false;
    const Edit& e = undo ? h.edits[--h.done] : h.edits[h.done++];
    apply(a, h, undo ? e.before : e.after);
    return true;
}

} // namespace

void history_begin_edit(Arrangement& a) {
    // Anything changed since the last boundary is taken as it is.
    if (make_history(a)) return;
    state_of(a, a.history->now);
    settle(*a.history);
}

void history_end_edit(Arrangement& a, bool drag) {
    if (!a.history) return;
    History& h = *a.history;
    const State& now = state_of(a, h.now);
    if (!now.same_tiles(h.mark)) {
        if (!drag) close_drag(h, a.history_limit);
        if (!h.drag_open) h.drag.before = h.mark;
        h.drag_open = drag;
        if (drag)
            h.drag.after = now;
        else
            keep(h, Edit{std::move(h.drag.before), now}, a.history_limit);
    }
    settle(h);
}

void history_end_drag(Arrangement& a) {
    if (a.history) close_drag(*a.history, a.history_limit);
}

bool history_undo(Arrangement& a) { return step(a, true); }
bool history_redo(Arrangement& a) { return step(a, false); }

size_t history_bytes(const Arrangement& a) { return a.history ? a.history->bytes : 0; }

void history_mark_saved(Arrangement& a) {
    if (make_history(a)) return;
    state_of(a, a.history->now);
    settle(*a.history);
    a.history->saved = a.tables_tile;
    a.history->unsaved = 0;
}

bool history_unsaved(const Arrangement& a) { return a.history && a.history->unsaved != 0; }
