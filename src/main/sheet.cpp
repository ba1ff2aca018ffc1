#include "sheet.h"

#include <algorithm>
#include <cstring>

namespace {

void put(uint8_t* pixel, uint32_t colour) {
    pixel[0] = uint8_t(colour >> 16);
    pixel[1] = uint8_t(colour >> 8);
    pixel[2] = uint8_t(colour);
}

// The image whose first line is offset / 32 of the image stream seen as
// 32-pixel lines; colour 0 lets the background through, and lines past the
// last whole image the load kept are not drawn, as in the editor.
void draw_image(const Sheet& sheet, uint32_t offset, uint8_t* cell, size_t stride) {
    const TilesetFile& t = *sheet.tileset;
    const uint32_t first = offset / IMAGE_SIDE, end = t.image_block_count * IMAGE_SIDE;
    for (uint32_t y = 0; y < IMAGE_SIDE && first < end && y < end - first; ++y) {
        const uint8_t* source = t.images + size_t(first + y) * IMAGE_SIDE;
        uint8_t* line = cell + y * stride;
        for (uint32_t x = 0; x < IMAGE_SIDE; ++x)
            if (source[x] != 0) memcpy(line + 3 * x, sheet.palette[source[x]], 3);
    }
}

// The selection: every pixel inverted, under a light then a dark ring.
void draw_selected(uint8_t* cell, size_t stride) {
    for (uint32_t y = 0; y < IMAGE_SIDE; ++y) {
        uint8_t* line = cell + y * stride;
        for (uint32_t x = 0; x < IMAGE_SIDE; ++x) {
            const uint32_t ring = std::min(std::min(x, y), std::min(31 - x, 31 - y));
            uint8_t* pixel = line + 3 * x;
            if (ring == 0)
                put(pixel, SHEET_FRAME_LIGHT);
            else if (ring == 1)
                put(pixel, SHEET_FRAME_DARK);
            else
                for (int i = 0; i < 3; ++i) pixel[i] = uint8_t(~pixel[i]);
        }
    }
}

} // namespace

Sheet sheet_for(const TilesetFile& tileset, uint32_t columns, const uint8_t* marked) {
    Sheet sheet = {&tileset, usable_tile_count(tileset), columns, marked, {}};
    for (int c = 0; c < 256; ++c) memcpy(sheet.palette[c], tileset.info.palette + 4 * c, 3);
    return sheet;
}

uint32_t sheet_width(const Sheet& sheet) { return sheet.columns * IMAGE_SIDE; }

uint32_t sheet_height(const Sheet& sheet) {
    const uint32_t rows = (sheet.positions + sheet.columns - 1) / sheet.columns;
    return (rows > 0 ? rows : 1) * IMAGE_SIDE;
}

void draw_sheet_row(const Sheet& sheet, uint32_t row, uint8_t* lines) {
    const size_t stride = size_t(sheet_width(sheet)) * 3;
    for (size_t i = 0; i < stride; i += 3) put(lines + i, SHEET_BACKGROUND);
    for (uint32_t y = 1; y < IMAGE_SIDE; ++y) memcpy(lines + y * stride, lines, stride);
    for (uint32_t column = 0; column < sheet.columns; ++column) {
        const uint64_t p = uint64_t(row) * sheet.columns + column;
        if (p >= sheet.positions) break;
        uint8_t* cell = lines + size_t(column) * IMAGE_SIDE * 3;
        draw_image(sheet, sheet.tileset->info.image_offset[p], cell, stride);
        if (sheet.marked && sheet.marked[p]) draw_selected(cell, stride);
    }
}
