// The info stream's layout: palette, tile count and eight per-tile tables,
// each table capacity_for(version) entries long whatever the tile count.
#include "tileset.h"

#include <utility>

uint32_t capacity_for(uint16_t version) {
    return version == LARGE_LAYOUT_VERSION ? LARGE_CAPACITY : SMALL_CAPACITY;
}

uint32_t fixed_info_size(uint16_t version) {
    uint32_t entry = 0; // the bytes of one tile's entries
#define FIELD_SIZE(type, name) entry += sizeof(type);
    TILE_FIELDS(FIELD_SIZE)
#undef FIELD_SIZE
    return TABLES_OFFSET + entry * capacity_for(version);
}

TileInfoView bind_info_view(uint8_t* info_buffer, uint16_t version) {
    const uint32_t n = capacity_for(version);
    TileInfoView v;
    v.palette = info_buffer;
    v.tile_count = reinterpret_cast<uint32_t*>(info_buffer + PALETTE_BYTES);
    // Every table starts at a multiple of 4, so the word tables are aligned
    // in a malloc'd buffer.
    uint8_t* table = info_buffer + TABLES_OFFSET;
#define BIND(type, name)                                                                           \
    v.name = reinterpret_cast<type*>(table);                                                       \
    table += sizeof(type) * n;
    TILE_FIELDS(BIND)
#undef BIND
    return v;
}

uint32_t usable_tile_count(const TilesetFile& tileset) {
    if (!tileset.streams[STREAM_INFO].unpacked || !tileset.info.tile_count) return 0;
    uint32_t count = *tileset.info.tile_count;
    uint32_t n = capacity_for(tileset.version);
    return count < n ? count : n;
}

TileRecord tile_to_record(const TileInfoView& info, uint32_t i, uint32_t origin_value) {
    TileRecord r;
#define TAKE(type, name) r.name = info.name[i];
    TILE_FIELDS(TAKE)
#undef TAKE
    r.origin = origin_value;
    return r;
}

void record_to_tile(const TileInfoView& info, const TileRecord& record, uint32_t i) {
#define PUT(type, name) info.name[i] = record.name;
    TILE_FIELDS(PUT)
#undef PUT
}

void swap_tables(const TileInfoView& info, uint32_t a, uint32_t b) {
#define SWAP(type, name) std::swap(info.name[a], info.name[b]);
    TILE_FIELDS(SWAP)
#undef SWAP
}

bool same_entries(const TileRecord& x, const TileRecord& y) {
    bool same = true;
#define SAME(type, name) same = same && x.name == y.name;
    TILE_FIELDS(SAME)
#undef SAME
    return same;
}
