// Drawing of the two views into the 320 x 512, 32-bit picture, and the
// picture scaled onto the window. Every frame is drawn from scratch;
// nothing here reads input.
#include "editor.h"

#include <cassert>
#include <cstring>

namespace {

// SDL rectangles hold signed 16-bit coordinates, so the tall image surface
// can only be addressed up to this row.
constexpr uint32_t LAST_REACHABLE_ROW = 32767 - IMAGE_SIDE + 1;

SDL_Rect cell_rect(uint32_t column, uint32_t row) {
    SDL_Rect r;
    r.x = Sint16(column * CELL_SIZE);
    r.y = Sint16(row * CELL_SIZE);
    r.w = CELL_SIZE;
    r.h = CELL_SIZE;
    return r;
}

// Blits the image starting at byte `offset` of the image stream; rows that
// lie past the end of the stream are not drawn.
void draw_image(EditorState& s, uint32_t offset, uint32_t column, uint32_t row) {
    if (!s.image_surface) return;
    uint32_t first_row = offset / IMAGE_SIDE;
    uint32_t total_rows = s.tileset.image_block_count * IMAGE_SIDE;
    if (first_row >= total_rows) return;
    SDL_Rect dst = cell_rect(column, row);
    if (first_row <= LAST_REACHABLE_ROW) {
        SDL_Rect src = {0, Sint16(first_row), IMAGE_SIDE, IMAGE_SIDE};
        SDL_BlitSurface(s.image_surface, &src, s.canvas, &dst);
        return;
    }
    // Further down, move a 32-row window over the stream instead.
    SDL_Surface* window = s.image_window;
    uint32_t rows = total_rows - first_row;
    window->pixels = s.tileset.images + size_t(first_row) * IMAGE_SIDE;
    window->h = int(rows < IMAGE_SIDE ? rows : IMAGE_SIDE);
    SDL_SetClipRect(window, nullptr);
    SDL_BlitSurface(window, nullptr, s.canvas, &dst);
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

SDL_Surface* make_marker(Uint32 fill) {
    SDL_Surface* m = SDL_CreateRGBSurface(SDL_SWSURFACE, CELL_SIZE, CELL_SIZE, 32, 0xFF0000,
                                          0x00FF00, 0x0000FF, 0);
    if (!m) return nullptr;
    SDL_FillRect(m, nullptr, fill);
    SDL_SetColorKey(m, SDL_SRCCOLORKEY, MARKER_KEY);
    return m;
}

} // namespace

void render_tileset_view() {
    EditorState& s = editor_state();
    SDL_FillRect(s.canvas, nullptr, BACKGROUND_COLOUR);
    const Arrangement& a = s.arrangement;
    for (uint32_t row = 0; row < GRID_ROWS; ++row) {
        for (uint32_t column = 0; column < GRID_COLUMNS; ++column) {
            uint32_t p = (s.scroll + row) * GRID_COLUMNS + column;
            if (p >= a.tile_count) goto tiles_done;
            if (a.origin[p] != 0 || p == 0) {
                draw_image(s, a.info.image_offset[p], column, row);
            } else {
                SDL_Rect dst = cell_rect(column, row);
                SDL_BlitSurface(s.empty_marker, nullptr, s.canvas, &dst);
            }
        }
    }
tiles_done:
    draw_selection_overlay();
}

void draw_selection_overlay() {
    EditorState& s = editor_state();
    const Arrangement& a = s.arrangement;
    for (uint32_t row = 0; row < GRID_ROWS; ++row) {
        for (uint32_t column = 0; column < GRID_COLUMNS; ++column) {
            uint32_t p = (s.scroll + row) * GRID_COLUMNS + column;
            if (p >= a.tile_count) return;
            if (!a.selected[p]) continue;
            invert_cell(s.canvas, column, row);
            SDL_Rect dst = cell_rect(column, row);
            SDL_BlitSurface(s.frame_surface, nullptr, s.canvas, &dst);
        }
    }
}

void render_holding_view() {
    EditorState& s = editor_state();
    SDL_FillRect(s.canvas, nullptr, BACKGROUND_COLOUR);
    const Arrangement& a = s.arrangement;
    assert(a.holding_count <= HOLDING_CAPACITY);
    for (uint32_t k = 0; k < a.holding_count; ++k)
        draw_image(s, a.holding.records[k].image_offset, k % GRID_COLUMNS, k / GRID_COLUMNS);
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

bool build_marker_surfaces() {
    EditorState& s = editor_state();
    s.empty_marker = make_marker(MARKER_KEY);
    s.frame_surface = make_marker(FRAME_LIGHT);
    if (!s.empty_marker || !s.frame_surface) return false;

    if (SDL_MUSTLOCK(s.empty_marker)) SDL_LockSurface(s.empty_marker);
    for (int i = 0; i < CELL_SIZE; ++i) {
        Uint8* line = static_cast<Uint8*>(s.empty_marker->pixels) + i * s.empty_marker->pitch;
        reinterpret_cast<Uint32*>(line)[i] = 0;
        reinterpret_cast<Uint32*>(line)[CELL_SIZE - 1 - i] = 0;
    }
    if (SDL_MUSTLOCK(s.empty_marker)) SDL_UnlockSurface(s.empty_marker);

    SDL_Rect dark = {1, 1, 30, 30};
    SDL_Rect clear = {2, 2, 28, 28};
    SDL_FillRect(s.frame_surface, &dark, FRAME_DARK);
    SDL_FillRect(s.frame_surface, &clear, MARKER_KEY);
    return true;
}
