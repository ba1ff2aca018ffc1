// The editor's state: one window showing a 320 x 512 picture, scaled by a
// whole number, with two views (the tileset grid and the holding area).
// Every part takes the Editor, or the part of it it needs. The loop uses
// the window, input, help and render parts, input uses render, help uses
// input, none the loop.
#pragma once

#include "../session/session.h"

#include <SDL.h>
#include <cstdint>
#include <memory>
#include <string>

constexpr int SCREEN_WIDTH = 320;
constexpr int SCREEN_HEIGHT = 512;
constexpr int GRID_COLUMNS = 10;
constexpr int GRID_ROWS = 16;
constexpr int CELL_SIZE = 32;
constexpr uint32_t BACKGROUND_COLOUR = 0x4F30A8;
constexpr uint32_t FRAME_LIGHT = 0xC0C0C0;
constexpr uint32_t FRAME_DARK = 0x808080;
constexpr uint32_t MARKER_KEY = 1; // transparent pixel value of the markers
constexpr int MAX_SCALE = 4;
constexpr size_t GOTO_DIGITS = 5;

enum EditorMode { MODE_TILESET = 0, MODE_HOLDING = 1 };

// What is shown, and whether the loop goes on.
struct View {
    EditorMode mode = MODE_TILESET;
    uint32_t scroll = 0, max_scroll = 0;
    int scale = 1;                             // each picture pixel is scale x scale on the screen
    int desktop_width = 0, desktop_height = 0; // as at the start; 0 when not known
    bool goto_open = false;                    // the go-to prompt
    bool find_image = false;                   // turned into the find-by-picture prompt
    std::string goto_digits;
    std::string message;       // what the last key or click led to, for the caption
    std::string caption;       // as last set
    bool details = false;      // the pointer readout shows the tile's entries
    bool help_open = false;    // the help sheet over the grid
    bool quit_pending = false; // a quit with unsaved or held work was asked for once
    bool running = false;
};

enum PointerPlace { POINTER_UNKNOWN, POINTER_IN, POINTER_OUT };

// The mouse, the modifier keys mouse events go by, and the drag under way.
struct Pointer {
    // Unknown until it moves in; out from leaving the window until it comes
    // back, while a drag outside still reports motions clamped to the edge.
    PointerPlace place = POINTER_UNKNOWN;
    int x = 0, y = 0;       // in window pixels, to be read at the scale of the moment
    unsigned held_keys = 0; // KMOD_ bits of the Control and Shift keys down
    bool painting = false, carrying = false; // a left drag, a right drag
    uint32_t anchor = 0;
    uint8_t paint = 0;
};

struct FreeSurface {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using Surface = std::unique_ptr<SDL_Surface, FreeSurface>;

// The help sheet's font (help.cpp): a build without SDL_ttf has none.
struct HelpFont;
struct CloseFont {
    void operator()(HelpFont* font) const;
};
using Font = std::unique_ptr<HelpFont, CloseFont>;

struct Surfaces {
    SDL_Surface* screen = nullptr; // the window; SDL's own
    Surface picture;               // above scale 1, drawn apart and scaled onto the screen
    Surface images;                // wraps the image stream, no copy
    Surface image_window;          // a 32 x 32 view moved over the stream
    Surface frame;
    Surface empty_marker;
    Font font;    // the help sheet's; none without the DejaVu font
    Surface help; // the sheet, drawn on its first showing
};

// What is drawn on: the screen itself at scale 1.
inline SDL_Surface* canvas(const Surfaces& s) { return s.picture ? s.picture.get() : s.screen; }

struct Editor {
    Session session;
    View view;
    Pointer pointer;
    Surfaces surfaces;
};
