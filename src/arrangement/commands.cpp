// The editing commands: cut, paste, fill, sort, move and the holding-area
// pick. Paste, fill and the pick move tiles with exchange_with_holding;
// cut, sort, move and the closing of holes in the holding area write
// records themselves.
#include "arrangement.h"

#include <algorithm>
#include <cassert>

namespace {

// Moves the records after the first hole among [first, first + used) down
// over the holes, keeping their order.
void close_holes(Arrangement& a, uint32_t first, uint32_t used, uint32_t old_count) {
    uint32_t h = first;
    while (h < first + used && a.holding.records[h].origin != 0) ++h;
    if (h == first + used || h >= a.holding_count) return;
    uint32_t source = h;
    for (uint32_t d = h; d < a.holding_count; ++d) {
        do ++source;
        while (source < old_count && a.holding.records[source].origin == 0);
        assert(source < old_count); // as many records left as places below holding_count
        a.holding.records[d] = a.holding.records[source];
        a.holding.records[source].origin = 0;
    }
}

} // namespace

// The cut positions' tables keep the tiles' entries (and tables_tile).
void cut_selection(Arrangement& a) {
    if (a.selected_count == 0) return;
    for (uint32_t j = 0; j < a.tile_count; ++j) {
        if (a.holding_count >= HOLDING_CAPACITY) break;
        if (!a.selected[j] || a.origin[j] == 0) continue;
        a.holding.records[a.holding_count++] = tile_to_record(a.info, j, a.origin[j]);
        --a.selected_count;
        a.origin[j] = 0;
        a.selected[j] = 0;
    }
}

void paste_selection(Arrangement& a, bool from_end) {
    uint32_t n = a.holding_count, s = a.selected_count;
    if (n == 0 || s == 0) return;
    uint32_t k = std::min(n, s);
    uint32_t b = from_end ? n - k : 0;
    uint32_t p = 0;
    for (uint32_t i = 0; i < k; ++i) {
        p = next_selected_after(a, p);
        assert(p != NO_POSITION); // selected_count positions are selected
        exchange_with_holding(a, p, b + i);
    }
    close_holes(a, b, k, n);
}

// There are as many empty positions as held records, so every record
// finds one.
void fill_empty_positions(Arrangement& a) {
    uint32_t n = a.holding_count;
    uint32_t p = 0;
    for (uint32_t j = 0; j < n; ++j) {
        p = next_empty_after(a, p);
        assert(p != NO_POSITION);
        exchange_with_holding(a, p, j);
    }
    assert(a.holding_count == 0);
}

// Gathers the selected positions' tiles, orders them by origin with a stable
// sort and puts them back: the same result as an insertion sort over the
// selected positions, without its quadratic number of swaps.
void sort_selection(Arrangement& a) {
    if (a.selected_count == 0) return;
    std::vector<uint32_t> positions;
    positions.reserve(a.selected_count);
    for (uint32_t i = 1; i < a.tile_count; ++i)
        if (a.selected[i]) positions.push_back(i);
    // The stable sort puts the empty positions first, in their order, so
    // their stale tables tiles go along in that order.
    std::vector<uint16_t> stale;
    std::vector<TileRecord> records;
    records.reserve(positions.size());
    for (uint32_t p : positions) {
        records.push_back(tile_to_record(a.info, p, a.origin[p]));
        if (a.origin[p] == 0) stale.push_back(a.tables_tile[p]);
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const TileRecord& x, const TileRecord& y) { return x.origin < y.origin; });
    for (size_t i = 0; i < positions.size(); ++i) {
        record_to_tile(a.info, records[i], positions[i]);
        a.origin[positions[i]] = records[i].origin;
        a.tables_tile[positions[i]] = uint16_t(i < stale.size() ? stale[i] : records[i].origin);
    }
}

void place_holding_record(Arrangement& a, uint32_t k) {
    if (k >= a.holding_count) return;
    uint32_t p = next_empty_after(a, 0);
    assert(p != NO_POSITION); // a record is held, so a position is empty
    uint32_t old_count = a.holding_count;
    exchange_with_holding(a, p, k);
    std::copy(a.holding.records + k + 1, a.holding.records + old_count, a.holding.records + k);
}

void move_selection(Arrangement& a, uint32_t t) {
    if (a.selected_count == 0 || t == 0 || t >= a.tile_count) return;
    // The order positions 1 .. tile_count - 1 stand in afterwards: the
    // others up to the landing place, the block, then the other others.
    std::vector<uint32_t> block, rest;
    block.reserve(a.selected_count);
    rest.reserve(a.tile_count - 1 - a.selected_count);
    for (uint32_t p = 1; p < a.tile_count; ++p) (a.selected[p] ? block : rest).push_back(p);
    assert(block.size() == a.selected_count);
    const uint32_t landing = 1 + uint32_t(std::min<size_t>(t - 1, rest.size()));
    std::vector<uint32_t> order(rest.begin(), rest.begin() + (landing - 1));
    order.insert(order.end(), block.begin(), block.end());
    order.insert(order.end(), rest.begin() + (landing - 1), rest.end());

    // Only the stretch where positions change is read and rewritten.
    uint32_t first = 1, end = a.tile_count;
    while (first < end && order[first - 1] == first) ++first;
    while (end > first && order[end - 2] == end - 1) --end;
    std::vector<TileRecord> moved;
    std::vector<uint16_t> tables;
    moved.reserve(end - first);
    tables.reserve(end - first);
    for (uint32_t p = first; p < end; ++p) {
        const uint32_t from = order[p - 1];
        moved.push_back(tile_to_record(a.info, from, a.origin[from]));
        tables.push_back(a.tables_tile[from]);
    }
    for (uint32_t p = first; p < end; ++p) {
        record_to_tile(a.info, moved[p - first], p);
        a.origin[p] = moved[p - first].origin;
        a.tables_tile[p] = tables[p - first];
    }
    clear_selection(a);
    for (uint32_t k = 0; k < block.size(); ++k) set_selected(a, landing + k, 1);
}
