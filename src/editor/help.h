// The help sheet (F1): the bindings and the caption's parts over the grid,
// in Debian's DejaVu font through SDL_ttf.
#pragma once

#include "editor.h"

// Starts SDL_ttf (after SDL's start) and opens the sheet's font; without
// the font (or SDL_ttf, in the Windows build) there is no sheet.
void load_help_font(Surfaces& s);
// After the font is closed.
void stop_help_font();
// F1: opens the sheet, or says in the caption why there is none.
void open_help(Editor& e);
// While the sheet is open a key or button press only closes it, and the
// pointer's motions reach nothing under it: true for an event taken so.
bool help_takes(View& v, const SDL_Event& event);
// Over whatever the view drew.
void draw_help(const Surfaces& s);
