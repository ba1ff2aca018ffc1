// The interactive editor: one 320 x 512 window, a blocking event loop, two
// views (the tileset grid and the holding area) and their input handlers.
//
//   if (editor_open(path)) editor_run();
//   editor_close();
//
// Tests drive it without a display: SDL_VIDEODRIVER=dummy, then
// editor_handle_event() for each event (modifiers via SDL_SetModState) and
// read editor_state().screen's pixels.
#pragma once

#include "../arrangement/arrangement.h"

#include <SDL.h>
#include <cstdint>
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

enum EditorMode { MODE_TILESET = 0, MODE_HOLDING = 1 };

// A view's handlers; the loop takes Tab, Escape, 1, 2 and Ctrl+Z / Ctrl+Y
// (undo and redo) before them.
struct ModeHandlers {
    void (*key_down)(const SDL_KeyboardEvent& key);
    void (*button_down)(const SDL_MouseButtonEvent& button);
    void (*button_up)(const SDL_MouseButtonEvent& button);
    void (*motion)(const SDL_MouseMotionEvent& motion);
    void (*render)();
};

struct EditorState {
    const char* tileset_path; // the command-line argument, not copied
    FileHandle file;          // the tileset, resolved once at the open
    std::string swaps_path;   // TILESET.swaps, for messages
    std::string swaps_name;   // its last name, taken from swaps_folder
    int swaps_folder = -1;    // the folder the tileset path's last name is in
    TilesetFile tileset;
    FileStamp on_disk; // the file as opened or last saved, or as the user was told of it
    Arrangement arrangement;
    std::string caption; // as last set
    EditorMode mode;
    uint32_t scroll;
    uint32_t max_scroll;
    bool painting;
    bool carrying;
    uint32_t anchor;
    uint8_t paint;
    bool running;
    SDL_Surface* screen;
    SDL_Surface* image_surface; // wraps the image stream, no copy
    SDL_Surface* image_window;  // a 32 x 32 view moved over the stream
    SDL_Surface* frame_surface;
    SDL_Surface* empty_marker;
};

EditorState& editor_state();

bool editor_open(const char* path);
void editor_run();
void editor_close();

// Handles one event as the loop does, then sets the caption, redraws and
// flips.
void editor_handle_event(const SDL_Event& event);

// The tileset's info stream is gone after a save whose packing failed.
bool tables_present(const EditorState& s);
// "Kelbo Tool - NAME", then " (unsaved)", " - holding view" and " - N held"
// as they apply.
std::string editor_caption(const EditorState& s);

// Handler tables of the two views.
extern const ModeHandlers TILESET_VIEW_HANDLERS;
extern const ModeHandlers HOLDING_VIEW_HANDLERS;

// Drawing (no input here).
void render_tileset_view();
void draw_selection_overlay();
void render_holding_view();
bool build_marker_surfaces();
