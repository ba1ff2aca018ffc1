// The info stream's layout: palette, tile count and eight per-tile tables,
// each table capacity_for(version) entries long whatever the tile count.
#include "tileset.h"

#include <utility>

uint32_t capacity_for(uint16_t version) {
    return version == LARGE_LAYOUT_VERSION ? LARGE_CAPACITY : SMALL_CAPACITY;
}

uint32_t fixed_info_size(uint16_t version) { return TABLES_OFFSET + 26 * capacity_for(version); }

TileInfoView bind_info_view(uint8_t* info_buffer, uint16_t version) {
    const uint32_t n = capacity_for(version);
    // Every offset is a multiple of 4, so the word tables are aligned in a
    // malloc'd buffer.
    auto words = [&](uint32_t offset) { return reinterpret_cast<uint32_t*>(info_buffer + offset); };
    TileInfoView v;
    v.palette = info_buffer;
    v.tile_count = words(PALETTE_BYTES);
    v.attr_a = info_buffer + TABLES_OFFSET;
    v.attr_b = info_buffer + TABLES_OFFSET + n;
    v.image_offset = words(TABLES_OFFSET + 2 * n);
    v.word1 = words(TABLES_OFFSET + 6 * n);
    v.word2 = words(TABLES_OFFSET + 10 * n);
    v.word3 = words(TABLES_OFFSET + 14 * n);
    v.word4 = words(TABLES_OFFSET + 18 * n);
    v.word5 = words(TABLES_OFFSET + 22 * n);
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
    r.attr_a = info.attr_a[i];
    r.attr_b = info.attr_b[i];
    r.image_offset = info.image_offset[i];
    r.word1 = info.word1[i];
    r.word2 = info.word2[i];
    r.word3 = info.word3[i];
    r.word4 = info.word4[i];
    r.word5 = info.word5[i];
    r.origin = origin_value;
    return r;
}

void record_to_tile(const TileInfoView& info, const TileRecord& record, uint32_t i) {
    info.attr_a[i] = record.attr_a;
    info.attr_b[i] = record.attr_b;
    info.image_offset[i] = record.image_offset;
    info.word1[i] = record.word1;
    info.word2[i] = record.word2;
    info.word3[i] = record.word3;
    info.word4[i] = record.word4;
    info.word5[i] = record.word5;
}

void swap_tables(const TileInfoView& info, uint32_t a, uint32_t b) {
    std::swap(info.attr_a[a], info.attr_a[b]);
    std::swap(info.attr_b[a], info.attr_b[b]);
    std::swap(info.image_offset[a], info.image_offset[b]);
    std::swap(info.word1[a], info.word1[b]);
    std::swap(info.word2[a], info.word2[b]);
    std::swap(info.word3[a], info.word3[b]);
    std::swap(info.word4[a], info.word4[b]);
    std::swap(info.word5[a], info.word5[b]);
}
