// The arrangement state and its primitive moves.
#include "arrangement.h"

#include <cassert>

void arrangement_init(Arrangement& a, const TilesetFile& tileset) {
    a.info = tileset.info;
    a.tile_count = usable_tile_count(tileset);
    a.origin.resize(a.tile_count);
    a.tables_tile.resize(a.tile_count);
    for (uint32_t i = 0; i < a.tile_count; ++i) a.origin[i] = a.tables_tile[i] = uint16_t(i);
    a.selected.assign(a.tile_count, 0);
    a.selected_count = 0;
    a.holding_count = 0;
    a.history.reset();
    a.history_limit = HISTORY_BYTE_LIMIT;
}

void arrangement_free(Arrangement& a) {
    a.origin = std::vector<uint32_t>();
    a.tables_tile = std::vector<uint16_t>();
    a.selected = std::vector<uint8_t>();
    a.tile_count = 0;
    a.selected_count = 0;
    a.holding_count = 0;
    a.info = TileInfoView{};
    a.history.reset();
}

void swap_positions(Arrangement& a, uint32_t p, uint32_t q) {
    swap_tables(a.info, p, q);
    std::swap(a.origin[p], a.origin[q]);
    std::swap(a.tables_tile[p], a.tables_tile[q]);
}

void exchange_with_holding(Arrangement& a, uint32_t p, uint32_t k) {
    TileRecord& record = a.holding.records[k];
    assert(record.origin != 0); // a hole is never exchanged
    bool occupied = a.origin[p] != 0;
    TileRecord lifted = tile_to_record(a.info, p, a.origin[p]);
    record_to_tile(a.info, record, p);
    a.origin[p] = record.origin;
    a.tables_tile[p] = uint16_t(record.origin);
    if (occupied) {
        record = lifted;
    } else {
        record.origin = 0;
        --a.holding_count;
    }
}

void place_tiles(Arrangement& a, const std::vector<uint32_t>& tile_at) {
    assert(tile_at.size() >= a.tile_count);
    std::vector<TileRecord> loaded(a.tile_count);
    for (uint32_t t = 0; t < a.tile_count; ++t) {
        assert(a.origin[t] == t && tile_at[t] < a.tile_count);
        loaded[t] = tile_to_record(a.info, t, t);
    }
    for (uint32_t p = 0; p < a.tile_count; ++p) {
        record_to_tile(a.info, loaded[tile_at[p]], p);
        a.origin[p] = tile_at[p];
        a.tables_tile[p] = uint16_t(tile_at[p]);
    }
}

void set_selected(Arrangement& a, uint32_t p, uint8_t value) {
    assert(p < a.tile_count && value <= 1 && (p != 0 || value == 0));
    a.selected_count = a.selected_count - a.selected[p] + value;
    a.selected[p] = value;
}

void clear_selection(Arrangement& a) {
    std::fill(a.selected.begin(), a.selected.end(), 0);
    a.selected_count = 0;
}

void toggle_row(Arrangement& a, uint32_t p, uint8_t paint) {
    if (p == 0 || p >= a.tile_count) return;
    uint32_t row = p / 10 * 10;
    for (uint32_t i = row; i < row + 10 && i < a.tile_count; ++i)
        if (i != 0 && a.selected[i] == paint) set_selected(a, i, !paint);
}

uint32_t next_selected_after(const Arrangement& a, uint32_t p) {
    for (uint32_t i = p + 1; i < a.tile_count; ++i)
        if (a.selected[i]) return i;
    return NO_POSITION;
}

uint32_t next_empty_after(const Arrangement& a, uint32_t p) {
    for (uint32_t i = p + 1; i < a.tile_count; ++i)
        if (a.origin[i] == 0) return i;
    return NO_POSITION;
}
