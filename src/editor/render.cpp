// Every frame is drawn from scratch.
#include "render.h"

#include <cassert>
#include <cstdio>
#include <cstring>

namespace {

// SDL rectangles hold signed 16-bit coordinates, so the tall image surface
// can only be addressed up to this row.
constexpr uint32_t LAST_REACHABLE_ROW = 32767 - IMAGE_SIDE + 1;

SDL_Rect cell_rect(uint32_t column, uint32_t row) {
    return {Sint16(column * CELL_SIZE), Sint16(row * CELL_SIZE), CELL_SIZE, CELL_SIZE};
}

// Blits the image starting at byte `offset` of the image stream; rows that
// lie past the end of the stream are not drawn.
void draw_image(const Editor& e, uint32_t offset, uint32_t column, uint32_t row) {
    if (!e.surfaces.images) return;
    uint32_t first_row = offset / IMAGE_SIDE;
    uint32_t total_rows = e.session.tileset.image_block_count * IMAGE_SIDE;
    if (first_row >= total_rows) return;
    SDL_Rect dst = cell_rect(column, row);
    if (first_row <= LAST_REACHABLE_ROW) {
        SDL_Rect src = {0, Sint16(first_row), IMAGE_SIDE, IMAGE_SIDE};
        SDL_BlitSurface(e.surfaces.images.get(), &src, canvas(e.surfaces), &dst);
        return;
    }
    // Further down, move a 32-row window over the stream instead.
    SDL_Surface* window = e.surfaces.image_window.get();
    uint32_t rows = total_rows - first_row;
    window->pixels = e.session.tileset.images + size_t(first_row) * IMAGE_SIDE;
    window->h = int(rows < IMAGE_SIDE ? rows : IMAGE_SIDE);
    SDL_SetClipRect(window, nullptr);
    SDL_BlitSurface(window, nullptr, canvas(e.surfaces), &dst);
}

void invert_cell(SDL_Surface* screen, uint32_t column, uint32_t row) {
    if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) != 0) return;
    uint8_t* top = static_cast<uint8_t*>(screen->pixels) + size_t(row) * CELL_SIZE * screen->pitch +
                   size_t(column) * CELL_SIZE * 4;
    for (int y = 0; y < CELL_SIZE; ++y) {
        Uint32* line = reinterpret_cast<Uint32*>(top + size_t(y) * screen->pitch);
        for (int x = 0; x < CELL_SIZE; ++x) line[x] ^= 0xFFFFFF;
    }
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
}

// "tile T", with details on followed by the tile's entries.
std::string tile_readout(const View& v, const TileRecord& r) {
    std::string text = "tile " + std::to_string(r.origin);
    if (!v.details) return text;
    char entries[96];
    snprintf(entries, sizeof entries, ", image %u, a %02x, b %02x, words %08x %08x %08x %08x %08x",
             unsigned(r.image_offset / IMAGE_BYTES), unsigned(r.attr_a), unsigned(r.attr_b),
             unsigned(r.word1), unsigned(r.word2), unsigned(r.word3), unsigned(r.word4),
             unsigned(r.word5));
    return text + entries;
}

// " - at P: tile T", " - at P: empty" or " - held K: tile T" for the cell
// under the pointer as the view now stands; nothing past the last tile or
// held record, nor while the pointer is outside the window.
std::string pointer_readout(const Editor& e) {
    const int x = e.pointer.x / e.view.scale, y = e.pointer.y / e.view.scale;
    uint32_t column, row, p;
    if (e.pointer.place != POINTER_IN || !cell_at(x, y, column, row)) return "";
    const Arrangement& a = e.session.arrangement;
    if (e.view.mode == MODE_HOLDING) {
        uint32_t k = row * GRID_COLUMNS + column;
        if (k >= a.holding_count) return "";
        return " - held " + std::to_string(k) + ": " + tile_readout(e.view, a.holding.records[k]);
    }
    if (!position_at(e, x, y, p)) return "";
    std::string at = " - at " + std::to_string(p) + ": ";
    if (p != 0 && a.origin[p] == 0) return at + "empty";
    return at + tile_readout(e.view, tile_to_record(a.info, p, a.origin[p]));
}

} // namespace

bool cell_at(int x, int y, uint32_t& column, uint32_t& row) {
    if (x < 0 || y < 0 || x >= GRID_COLUMNS * CELL_SIZE || y >= GRID_ROWS * CELL_SIZE) return false;
    column = uint32_t(x) / CELL_SIZE;
    row = uint32_t(y) / CELL_SIZE;
    return true;
}

bool position_at(const Editor& e, int x, int y, uint32_t& p) {
    uint32_t column, row;
    if (!cell_at(x, y, column, row)) return false;
    p = (e.view.scroll + row) * GRID_COLUMNS + column;
    return p < e.session.arrangement.tile_count;
}

// Cells never overlap, so each is finished, selection and all, before the
// next.
void render_tileset_view(const Editor& e) {
    SDL_Surface* picture = canvas(e.surfaces);
    SDL_FillRect(picture, nullptr, BACKGROUND_COLOUR);
    const Arrangement& a = e.session.arrangement;
    for (uint32_t cell = 0; cell < GRID_ROWS * GRID_COLUMNS; ++cell) {
        const uint32_t p = e.view.scroll * GRID_COLUMNS + cell;
        const uint32_t column = cell % GRID_COLUMNS, row = cell / GRID_COLUMNS;
        if (p >= a.tile_count) return;
        SDL_Rect marker = cell_rect(column, row), frame = marker;
        if (a.origin[p] != 0 || p == 0)
            draw_image(e, a.info.image_offset[p], column, row);
        else
            SDL_BlitSurface(e.surfaces.empty_marker.get(), nullptr, picture, &marker);
        if (!a.selected[p]) continue;
        invert_cell(picture, column, row);
        SDL_BlitSurface(e.surfaces.frame.get(), nullptr, picture, &frame);
    }
}

void render_holding_view(const Editor& e) {
    SDL_FillRect(canvas(e.surfaces), nullptr, BACKGROUND_COLOUR);
    const Arrangement& a = e.session.arrangement;
    assert(a.holding_count <= HOLDING_CAPACITY);
    for (uint32_t k = 0; k < a.holding_count; ++k)
        draw_image(e, a.holding.records[k].image_offset, k % GRID_COLUMNS, k / GRID_COLUMNS);
}

void draw_scaled(SDL_Surface* picture, SDL_Surface* screen, int scale) {
    if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) != 0) return;
    for (int y = 0; y < picture->h; ++y) {
        const Uint32* from = reinterpret_cast<const Uint32*>(
            static_cast<const uint8_t*>(picture->pixels) + size_t(y) * picture->pitch);
        uint8_t* first = static_cast<uint8_t*>(screen->pixels) + size_t(y) * scale * screen->pitch;
        Uint32* to = reinterpret_cast<Uint32*>(first);
        for (int x = 0; x < picture->w; ++x)
            for (int i = 0; i < scale; ++i) *to++ = from[x];
        for (int i = 1; i < scale; ++i)
            memcpy(first + size_t(i) * screen->pitch, first, size_t(picture->w) * scale * 4);
    }
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
}

std::string editor_caption(const Editor& e) {
    std::string text = "Kelbo Tool - " + last_name(e.session.path);
    const Arrangement& a = e.session.arrangement;
    if (history_unsaved(a)) text += " (unsaved)";
    if (e.view.mode == MODE_HOLDING) text += " - holding view";
    if (a.holding_count > 0) text += " - " + std::to_string(a.holding_count) + " held";
    if (e.view.mode == MODE_TILESET && a.selected_count > 0)
        text += " - " + std::to_string(a.selected_count) + " selected";
    if (e.view.goto_open)
        text += (e.view.find_image ? " - find image: " : " - go to: ") + e.view.goto_digits;
    if (!e.view.message.empty()) text += " - " + e.view.message;
    if (e.view.help_open) text += " - help";
    return text + pointer_readout(e);
}

void show_caption(Editor& e) {
    std::string text = editor_caption(e);
    if (text == e.view.caption) return;
    e.view.caption = text;
    SDL_WM_SetCaption(e.view.caption.c_str(), nullptr);
}
