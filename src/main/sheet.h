// The sheet: a tileset's positions laid out C to a row in 32 x 32 cells,
// each drawn as the editor's tileset view draws it at scale 1, as 8-bit
// RGB lines a cell row at a time.
#pragma once

#include "../storage/tileset.h"

#include <cstdint>

// The editor's colours.
constexpr uint32_t SHEET_BACKGROUND = 0x4F30A8;
constexpr uint32_t SHEET_FRAME_LIGHT = 0xC0C0C0;
constexpr uint32_t SHEET_FRAME_DARK = 0x808080;
constexpr uint32_t SHEET_DEFAULT_COLUMNS = 10; // as the editor shows them
constexpr uint32_t SHEET_MAX_COLUMNS = 256;

struct Sheet {
    const TilesetFile* tileset; // info and images unpacked
    uint32_t positions;         // drawn: 0 .. positions - 1
    uint32_t columns;           // 1 .. SHEET_MAX_COLUMNS
    const uint8_t* marked;      // per position, non-zero: drawn selected; may be null
    uint8_t palette[256][3];    // the tileset's, filled by sheet_for
};

Sheet sheet_for(const TilesetFile& tileset, uint32_t columns, const uint8_t* marked);
uint32_t sheet_width(const Sheet& sheet);
// A sheet of no position still has one row of background.
uint32_t sheet_height(const Sheet& sheet);
// Draws cell row `row`: IMAGE_SIDE lines of sheet_width RGB pixels.
void draw_sheet_row(const Sheet& sheet, uint32_t row, uint8_t* lines);
