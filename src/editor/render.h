// What the user sees: the views, the caption, and where on the 320 x 512
// picture each position lies. Nothing here reads input.
#pragma once

#include "editor.h"

// The grid cell under a picture pixel, or false outside the 10 x 16 grid.
bool cell_at(int x, int y, uint32_t& column, uint32_t& row);
// The tileset position under a picture pixel; false past the last tile.
bool position_at(const Editor& e, int x, int y, uint32_t& p);

void render_tileset_view(const Editor& e);
void render_holding_view(const Editor& e);
// Each pixel of the 32-bit picture as a scale x scale block of the screen.
void draw_scaled(SDL_Surface* picture, SDL_Surface* screen, int scale);

// "Kelbo Tool - NAME", then as they apply " (unsaved)", " - holding view",
// " - N held", " - S selected", the go-to or find prompt, the message,
// " - help" and what the pointer is over.
std::string editor_caption(const Editor& e);
// Sets the window's caption, only when its text changes.
void show_caption(Editor& e);
