// Undo and redo. The history keeps a shadow of the arrangement as it stood
// at the last boundary between handlings; what a handling changed is found
// by comparing the live state with that shadow, so the commands and the
// primitives keep no books of their own.
#include "arrangement.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace {

static_assert(LARGE_CAPACITY <= 0x10000, "positions are kept in 16 bits");

// One position's eight entries and origin, or one holding record, as an
// edit keeps it.
struct Slot {
    uint16_t index;    // position or record number
    uint8_t attrs[2];  // attr_a, attr_b
    uint32_t words[7]; // image_offset, word1 .. word5, origin
};

// The per-position columns of the live tables or of the shadow.
struct Columns {
    uint8_t* attrs[2];
    uint32_t* words[7];
};

// A selection and a holding area on one side of an edit.
struct Side {
    const uint8_t* selected;
    uint32_t selected_count;
    const TileRecord* held;
    uint32_t held_count;
};

struct Edit {
    // to | from << 16: the tile that stood at `from` before stands at `to`
    // after. A sort or a carry is nothing but these.
    std::vector<uint32_t> moves;
    std::vector<Slot> tiles_before; // changed positions no move gives back
    std::vector<Slot> tiles_after;  // changed positions no move fills
    std::vector<Slot> held_before;  // holding records that differ
    std::vector<Slot> held_after;
    std::vector<uint8_t> selected_before; // one bit per position
    std::vector<uint8_t> selected_after;  // empty when the same as before
    uint32_t selected_count_before = 0;
    uint32_t selected_count_after = 0;
    uint32_t held_count_before = 0;
    uint32_t held_count_after = 0;
    size_t bytes = 0;
};

} // namespace

struct History {
    uint32_t tile_count = 0;

    // The state at the last boundary.
    std::vector<uint8_t> attrs[2];
    std::vector<uint32_t> words[7];
    std::vector<uint8_t> selected;
    uint32_t selected_count = 0;
    HoldingArea holding;
    uint32_t holding_count = 0;

    // The eight tables as last saved, and which positions differ from them.
    std::vector<uint8_t> saved_attrs[2];
    std::vector<uint32_t> saved_words[6];
    std::vector<uint8_t> unsaved_at;
    uint32_t unsaved_positions = 0;

    // Positions the last comparison found changed; `marked` while listed.
    std::vector<uint32_t> changed;
    std::vector<uint8_t> marked;

    // The open drag edit: the positions it changed with their values before
    // its first change, the selection and holding area at that point, and
    // the selection just after its last change.
    bool drag_open = false;
    std::vector<Slot> drag_tiles;
    std::vector<uint32_t> drag_index; // position -> index in drag_tiles + 1
    std::vector<uint8_t> drag_selected_before, drag_selected_after;
    uint32_t drag_selected_count_before = 0, drag_selected_count_after = 0;
    HoldingArea drag_holding;
    uint32_t drag_holding_count = 0;

    std::deque<Edit> edits;
    size_t done = 0; // edits[0 .. done) are in effect
    size_t bytes = 0;

    // Scratch for building and applying edits.
    std::vector<Slot> before, kept_before, kept_after, moved;
    std::vector<uint32_t> moves;
    std::vector<uint32_t> where; // origin -> index in kept_before + 1
    std::vector<uint8_t> used;
};

void HistoryDeleter::operator()(History* history) const { delete history; }

namespace {

Columns live_columns(Arrangement& a) {
    const TileInfoView& v = a.info;
    return {{v.attr_a, v.attr_b},
            {v.image_offset, v.word1, v.word2, v.word3, v.word4, v.word5, a.origin.data()}};
}

Columns shadow_columns(History& h) {
    Columns c;
    for (int i = 0; i < 2; ++i) c.attrs[i] = h.attrs[i].data();
    for (int i = 0; i < 7; ++i) c.words[i] = h.words[i].data();
    return c;
}

Slot read_slot(const Columns& c, uint32_t p) {
    Slot s;
    s.index = uint16_t(p);
    for (int i = 0; i < 2; ++i) s.attrs[i] = c.attrs[i][p];
    for (int i = 0; i < 7; ++i) s.words[i] = c.words[i][p];
    return s;
}

void write_slot(const Columns& c, uint32_t p, const Slot& s) {
    for (int i = 0; i < 2; ++i) c.attrs[i][p] = s.attrs[i];
    for (int i = 0; i < 7; ++i) c.words[i][p] = s.words[i];
}

Slot slot_of(uint32_t k, const TileRecord& r) {
    return {uint16_t(k),
            {r.attr_a, r.attr_b},
            {r.image_offset, r.word1, r.word2, r.word3, r.word4, r.word5, r.origin}};
}

TileRecord record_of(const Slot& s) {
    TileRecord r;
    r.attr_a = s.attrs[0];
    r.attr_b = s.attrs[1];
    r.image_offset = s.words[0];
    r.word1 = s.words[1];
    r.word2 = s.words[2];
    r.word3 = s.words[3];
    r.word4 = s.words[4];
    r.word5 = s.words[5];
    r.origin = s.words[6];
    return r;
}

bool same_tables(const Slot& x, const Slot& y) {
    return x.attrs[0] == y.attrs[0] && x.attrs[1] == y.attrs[1] &&
           std::equal(x.words, x.words + 6, y.words);
}

bool same_slot(const Slot& x, const Slot& y) {
    return same_tables(x, y) && x.words[6] == y.words[6];
}

bool same_record(const TileRecord& x, const TileRecord& y) {
    return same_slot(slot_of(0, x), slot_of(0, y));
}

// Lists the positions of one column whose live value differs from the
// shadow's. Most handlings change nothing or a few positions, so memcmp
// passes over equal stretches in growing steps; a step that differs is
// halved down to a short one, which is compared value by value. Each value
// is compared about once whatever the changes.
template <typename T> void find_in_column(const T* live, const T* shadow, History& h) {
    constexpr uint32_t SHORT = 256 / sizeof(T);
    const uint32_t n = h.tile_count;
    auto differ = [&](uint32_t first, uint32_t end) {
        return memcmp(live + first, shadow + first, (end - first) * sizeof(T)) != 0;
    };
    uint32_t first = 0, step = SHORT;
    while (first < n) {
        uint32_t end = std::min(n, first + step);
        if (!differ(first, end)) {
            first = end;
            step *= 2;
            continue;
        }
        while (end - first > SHORT) {
            uint32_t middle = first + (end - first) / 2;
            if (differ(first, middle))
                end = middle;
            else
                first = middle;
        }
        for (uint32_t p = first; p < end; ++p) {
            if (live[p] == shadow[p] || h.marked[p]) continue;
            h.marked[p] = 1;
            h.changed.push_back(p);
        }
        first = end;
        step = SHORT;
    }
}

void find_changes(Arrangement& a, History& h) {
    for (uint32_t p : h.changed) h.marked[p] = 0;
    h.changed.clear();
    if (h.tile_count == 0) return;
    const Columns live = live_columns(a), shadow = shadow_columns(h);
    for (int i = 0; i < 2; ++i) find_in_column(live.attrs[i], shadow.attrs[i], h);
    for (int i = 0; i < 7; ++i) find_in_column(live.words[i], shadow.words[i], h);
}

bool holding_differs(const Arrangement& a, const History& h) {
    if (a.holding_count != h.holding_count) return true;
    for (uint32_t k = 0; k < h.holding_count; ++k)
        if (!same_record(a.holding.records[k], h.holding.records[k])) return true;
    return false;
}

// Whether position p's live tables differ from those last saved, kept up
// to date for every position a handling, undo or redo changes.
void recheck_saved(History& h, const Columns& live, uint32_t p) {
    bool differs = false;
    for (int i = 0; i < 2; ++i) differs |= live.attrs[i][p] != h.saved_attrs[i][p];
    for (int i = 0; i < 6; ++i) differs |= live.words[i][p] != h.saved_words[i][p];
    if (differs == bool(h.unsaved_at[p])) return;
    h.unsaved_at[p] = differs;
    if (differs)
        ++h.unsaved_positions;
    else
        --h.unsaved_positions;
}

void mark_saved(Arrangement& a, History& h) {
    const Columns live = live_columns(a);
    for (int i = 0; i < 2; ++i)
        h.saved_attrs[i].assign(live.attrs[i], live.attrs[i] + h.tile_count);
    for (int i = 0; i < 6; ++i)
        h.saved_words[i].assign(live.words[i], live.words[i] + h.tile_count);
    h.unsaved_at.assign(h.tile_count, 0);
    h.unsaved_positions = 0;
}

// Writes one position of both the live state and the shadow.
void put(History& h, const Columns& live, const Columns& shadow, uint32_t p, const Slot& s) {
    write_slot(live, p, s);
    write_slot(shadow, p, s);
    recheck_saved(h, live, p);
}

// The shadow takes the live values of the listed positions, the selection
// and the holding area.
void take_over(Arrangement& a, History& h) {
    const Columns live = live_columns(a), shadow = shadow_columns(h);
    for (uint32_t p : h.changed) {
        write_slot(shadow, p, read_slot(live, p));
        recheck_saved(h, live, p);
    }
    if (h.tile_count) memcpy(h.selected.data(), a.selected.data(), h.tile_count);
    h.selected_count = a.selected_count;
    h.holding_count = std::min(a.holding_count, HOLDING_CAPACITY);
    std::copy(a.holding.records, a.holding.records + h.holding_count, h.holding.records);
}

void start(Arrangement& a, History& h) {
    const uint32_t n = h.tile_count = a.tile_count;
    for (auto& column : h.attrs) column.resize(n);
    for (auto& column : h.words) column.resize(n);
    h.selected.resize(n);
    h.marked.assign(n, 0);
    h.drag_index.assign(n, 0);
    h.where.assign(n, 0);
    mark_saved(a, h);
    for (uint32_t p = 0; p < n; ++p) h.changed.push_back(p);
    take_over(a, h);
    h.changed.clear();
}

std::vector<uint8_t> bits_of(const uint8_t* selected, uint32_t n) {
    std::vector<uint8_t> bits((n + 7) / 8, 0);
    for (uint32_t p = 0; p < n; ++p)
        if (selected[p]) bits[p / 8] |= uint8_t(1u << (p % 8));
    return bits;
}

template <typename T> size_t bytes_of(const std::vector<T>& v) { return v.capacity() * sizeof(T); }

// Turns positions' values before (`before`) and now (read from `after`),
// and both sides' selection and holding area, into an edit. False when the
// tables, origin and holding area came out unchanged.
bool build_edit(History& h, const std::vector<Slot>& before, const Columns& after, const Side& was,
                const Side& now, Edit& e) {
    h.kept_before.clear();
    h.kept_after.clear();
    for (const Slot& b : before) {
        Slot s = read_slot(after, b.index);
        if (same_slot(b, s)) continue;
        h.kept_before.push_back(b);
        h.kept_after.push_back(s);
    }
    for (uint32_t k = 0; k < std::max(was.held_count, now.held_count); ++k) {
        bool in_was = k < was.held_count, in_now = k < now.held_count;
        if (in_was && in_now && same_record(was.held[k], now.held[k])) continue;
        if (in_was) e.held_before.push_back(slot_of(k, was.held[k]));
        if (in_now) e.held_after.push_back(slot_of(k, now.held[k]));
    }
    bool held_changed = was.held_count != now.held_count || !e.held_before.empty();
    if (h.kept_before.empty() && !held_changed) return false;

    // A tile found at another position afterwards, entries and all, moved:
    // two positions say as much as two copies of its entries.
    const size_t n = h.kept_before.size();
    for (size_t i = 0; i < n; ++i) {
        uint32_t origin = h.kept_before[i].words[6];
        if (origin != 0 && origin < h.tile_count) h.where[origin] = uint32_t(i + 1);
    }
    h.used.assign(n, 0);
    h.moves.clear();
    std::vector<Slot> tiles_after;
    for (const Slot& s : h.kept_after) {
        uint32_t origin = s.words[6];
        uint32_t j = origin != 0 && origin < h.tile_count ? h.where[origin] : 0;
        if (j != 0 && !h.used[j - 1] && same_tables(h.kept_before[j - 1], s)) {
            h.used[j - 1] = 1;
            h.moves.push_back(s.index | uint32_t(h.kept_before[j - 1].index) << 16);
        } else {
            tiles_after.push_back(s);
        }
    }
    std::vector<Slot> tiles_before;
    for (size_t i = 0; i < n; ++i) {
        uint32_t origin = h.kept_before[i].words[6];
        if (origin != 0 && origin < h.tile_count) h.where[origin] = 0;
        if (!h.used[i]) tiles_before.push_back(h.kept_before[i]);
    }

    e.moves.assign(h.moves.begin(), h.moves.end());
    e.tiles_before.assign(tiles_before.begin(), tiles_before.end());
    e.tiles_after.assign(tiles_after.begin(), tiles_after.end());
    e.held_before.shrink_to_fit();
    e.held_after.shrink_to_fit();
    e.selected_before = bits_of(was.selected, h.tile_count);
    if (was.selected_count != now.selected_count ||
        (h.tile_count && memcmp(was.selected, now.selected, h.tile_count) != 0))
        e.selected_after = bits_of(now.selected, h.tile_count);
    e.selected_count_before = was.selected_count;
    e.selected_count_after = now.selected_count;
    e.held_count_before = was.held_count;
    e.held_count_after = now.held_count;
    e.bytes = sizeof(Edit) + bytes_of(e.moves) + bytes_of(e.tiles_before) +
              bytes_of(e.tiles_after) + bytes_of(e.held_before) + bytes_of(e.held_after) +
              bytes_of(e.selected_before) + bytes_of(e.selected_after);
    return true;
}

// Keeps a new edit: what could have been redone goes, and then the oldest
// edits while the rest take more than the limit.
void keep(History& h, Edit&& e) {
    while (h.edits.size() > h.done) {
        h.bytes -= h.edits.back().bytes;
        h.edits.pop_back();
    }
    h.bytes += e.bytes;
    h.edits.push_back(std::move(e));
    while (h.bytes > HISTORY_BYTE_LIMIT && h.edits.size() > 1) {
        h.bytes -= h.edits.front().bytes;
        h.edits.pop_front();
    }
    h.done = h.edits.size();
}

Side shadow_side(const History& h) {
    return {h.selected.data(), h.selected_count, h.holding.records, h.holding_count};
}

Side live_side(const Arrangement& a) {
    return {a.selected.data(), a.selected_count, a.holding.records, a.holding_count};
}

// Ends the open drag edit as of the shadow, which holds the state just
// after its last change.
void close_drag(History& h) {
    if (!h.drag_open) return;
    Edit e;
    const Side was = {h.drag_selected_before.data(), h.drag_selected_count_before,
                      h.drag_holding.records, h.drag_holding_count};
    Side now = shadow_side(h);
    now.selected = h.drag_selected_after.data();
    now.selected_count = h.drag_selected_count_after;
    if (build_edit(h, h.drag_tiles, shadow_columns(h), was, now, e)) keep(h, std::move(e));
    for (const Slot& s : h.drag_tiles) h.drag_index[s.index] = 0;
    h.drag_tiles.clear();
    h.drag_open = false;
}

// Adds what a drag handling changed to the drag's open edit, opening it
// with the shadow's state (the state before this handling) if need be.
void extend_drag(Arrangement& a, History& h) {
    if (!h.drag_open) {
        h.drag_open = true;
        h.drag_selected_before = h.selected;
        h.drag_selected_count_before = h.selected_count;
        h.drag_holding_count = h.holding_count;
        std::copy(h.holding.records, h.holding.records + h.holding_count, h.drag_holding.records);
    }
    const Columns shadow = shadow_columns(h);
    for (uint32_t p : h.changed) {
        if (h.drag_index[p]) continue;
        h.drag_tiles.push_back(read_slot(shadow, p));
        h.drag_index[p] = uint32_t(h.drag_tiles.size());
    }
    h.drag_selected_after = a.selected;
    h.drag_selected_count_after = a.selected_count;
}

void apply(Arrangement& a, History& h, const Edit& e, bool forward) {
    const Columns live = live_columns(a), shadow = shadow_columns(h);
    h.moved.resize(e.moves.size());
    for (size_t i = 0; i < e.moves.size(); ++i) {
        uint32_t to = e.moves[i] & 0xFFFF, from = e.moves[i] >> 16;
        h.moved[i] = read_slot(live, forward ? from : to);
    }
    for (size_t i = 0; i < e.moves.size(); ++i) {
        uint32_t to = e.moves[i] & 0xFFFF, from = e.moves[i] >> 16;
        put(h, live, shadow, forward ? to : from, h.moved[i]);
    }
    for (const Slot& s : forward ? e.tiles_after : e.tiles_before) {
        put(h, live, shadow, s.index, s);
    }

    const std::vector<uint8_t>& bits =
        forward && !e.selected_after.empty() ? e.selected_after : e.selected_before;
    for (uint32_t p = 0; p < h.tile_count; ++p)
        a.selected[p] = h.selected[p] = (bits[p / 8] >> (p % 8)) & 1;
    a.selected_count = h.selected_count =
        forward ? e.selected_count_after : e.selected_count_before;

    for (const Slot& s : forward ? e.held_after : e.held_before)
        a.holding.records[s.index] = h.holding.records[s.index] = record_of(s);
    a.holding_count = h.holding_count = forward ? e.held_count_after : e.held_count_before;
}

// Makes the history on first use; false when the arrangement has one.
bool make_history(Arrangement& a) {
    if (a.history && a.history->tile_count == a.tile_count) return false;
    a.history.reset(new History);
    start(a, *a.history);
    return true;
}

} // namespace

void history_begin_edit(Arrangement& a) {
    if (make_history(a)) return;
    // Anything changed since the last boundary is taken as it is.
    find_changes(a, *a.history);
    take_over(a, *a.history);
}

void history_end_edit(Arrangement& a, bool drag) {
    if (!a.history) return;
    History& h = *a.history;
    find_changes(a, h);
    if (h.changed.empty() && !holding_differs(a, h)) {
        take_over(a, h);
        return;
    }
    if (drag) {
        extend_drag(a, h);
    } else {
        close_drag(h);
        const Columns shadow = shadow_columns(h);
        h.before.clear();
        for (uint32_t p : h.changed) h.before.push_back(read_slot(shadow, p));
        Edit e;
        if (build_edit(h, h.before, live_columns(a), shadow_side(h), live_side(a), e))
            keep(h, std::move(e));
    }
    take_over(a, h);
}

void history_end_drag(Arrangement& a) {
    if (a.history) close_drag(*a.history);
}

bool history_undo(Arrangement& a) {
    if (!a.history) return false;
    History& h = *a.history;
    close_drag(h);
    if (h.done == 0) return false;
    apply(a, h, h.edits[--h.done], false);
    return true;
}

bool history_redo(Arrangement& a) {
    if (!a.history) return false;
    History& h = *a.history;
    close_drag(h);
    if (h.done == h.edits.size()) return false;
    apply(a, h, h.edits[h.done++], true);
    return true;
}

size_t history_bytes(const Arrangement& a) { return a.history ? a.history->bytes : 0; }

void history_mark_saved(Arrangement& a) {
    if (!make_history(a)) mark_saved(a, *a.history);
}

bool history_unsaved(const Arrangement& a) {
    return a.history && a.history->unsaved_positions != 0;
}
