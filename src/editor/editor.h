// The interactive editor: one window showing a 320 x 512 picture, scaled by
// a whole number, a blocking event loop, two views (the tileset grid and
// the holding area) and their input handlers.
//
//   if (editor_open(path)) editor_run();
//   editor_close();
//
// Tests drive it without a display: SDL_VIDEODRIVER=dummy, then
// editor_handle_event() for each event and read editor_state().canvas's
// pixels. Key events carry their own modifiers; mouse events use the
// Control and Shift keys that the key events have pressed and released.
#pragma once

#include "../arrangement/arrangement.h"
#include "../arrangement/swap_list.h"
#include "../storage/file_lock.h"

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
constexpr int MAX_SCALE = 4;
constexpr size_t GOTO_DIGITS = 5;

enum EditorMode { MODE_TILESET = 0, MODE_HOLDING = 1 };

// A view's handlers; the loop takes Tab, Escape, 1, 2, Ctrl+Z / Ctrl+Y
// (undo and redo), Ctrl+G (go to) and the zoom keys before them.
struct ModeHandlers {
    void (*key_down)(const SDL_KeyboardEvent& key);
    void (*button_down)(const SDL_MouseButtonEvent& button);
    void (*button_up)(const SDL_MouseButtonEvent& button);
    void (*motion)(const SDL_MouseMotionEvent& motion);
    void (*render)();
};

enum PointerPlace { POINTER_UNKNOWN, POINTER_IN, POINTER_OUT };

struct EditorState {
    const char* tileset_path; // the command-line argument, not copied
    FileHandle file;          // the tileset, resolved once at the open
    std::string swaps_path;   // TILESET.swaps, for messages
    std::string swaps_name;   // its last name, taken from swaps_folder
    Fd swaps_folder;          // the folder the tileset path's last name is in
    FileStamp swaps_written;  // the .swaps this session last wrote
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
    int scale = 1;      // each picture pixel is scale x scale on the screen
    unsigned held_keys; // KMOD_ bits of the Control and Shift keys down
    // Unknown until it moves in; out from leaving the window until it comes
    // back, while a drag outside still reports motions clamped to the edge.
    PointerPlace pointer;
    int pointer_x;  // in window pixels, so that a zoom under a still
    int pointer_y;  // pointer is read at the new scale
    bool goto_open; // the go-to prompt
    std::string goto_digits;
    std::string message;        // what the last key or click led to, for the caption
    bool quit_pending;          // a quit with unsaved work was asked for once
    SDL_Surface* screen;        // the window
    SDL_Surface* canvas;        // the picture: the screen itself at scale 1
    SDL_Surface* image_surface; // wraps the image stream, no copy
    SDL_Surface* image_window;  // a 32 x 32 view moved over the stream
    SDL_Surface* frame_surface;
    SDL_Surface* empty_marker;
};

EditorState& editor_state();

// The loop gives up after this many failed waits for an event in a row.
constexpr int WAIT_FAILURE_LIMIT = 10;

bool editor_open(const char* path);
// Runs until the user quits (0), or the editor is ended otherwise (1): by
// a signal, when waiting for events keeps failing, or when the window
// could not be made again at another scale; unsaved work is then kept in a
// recovery copy first.
int editor_run();
void editor_close();

// Handles one event as the loop does, then sets the caption, redraws and
// flips.
void editor_handle_event(const SDL_Event& event);

// "Kelbo Tool - NAME", then " (unsaved)", " - holding view", " - N held",
// the go-to prompt, the message and what the pointer is over, as they
// apply.
std::string editor_caption(const EditorState& s);

// The scale a window starts at: KELBO_SCALE's value when it is 1 to 4,
// else the largest that fits 90 % of the desktop (1 when its size is not
// known).
int starting_scale(const char* setting, int desktop_width, int desktop_height);
// Re-creates the window at another scale; false (scale kept) if it fails.
bool set_scale(EditorState& s, int scale);

// Ending from outside. watch_for_endings takes SIGINT, SIGTERM and SIGHUP
// (after SDL's start, which would make them a window close) and, on X11, a
// lost display; stop_watching gives the signals back. keep_unsaved_work
// writes, when the tables are unsaved, a recovery copy as Ctrl+F then
// Ctrl+S would save it, and its swap list beside it, and says where.
void watch_for_endings();
void stop_watching();
int ending_signal(); // the signal that came, or 0
void keep_unsaved_work(EditorState& s);

// Control, Shift and their kind: pressed alone they mean nothing yet.
bool is_modifier_key(SDLKey sym);

// The grid cell under a picture pixel, or false outside the 10 x 16 grid.
bool cell_at(int x, int y, uint32_t& column, uint32_t& row);
// The tileset position under a picture pixel; false past the last tile.
bool position_at(const EditorState& s, int x, int y, uint32_t& p);

// Handler tables of the two views.
extern const ModeHandlers TILESET_VIEW_HANDLERS;
extern const ModeHandlers HOLDING_VIEW_HANDLERS;

// Drawing (no input here), into the canvas.
void render_tileset_view();
void draw_selection_overlay();
void render_holding_view();
bool build_marker_surfaces();
// Each pixel of the 32-bit picture as a scale x scale block of the screen.
void draw_scaled(SDL_Surface* picture, SDL_Surface* screen, int scale);

// The go-to prompt (Ctrl+G): digits, Backspace, Enter goes, Escape closes.
void open_go_to(EditorState& s);
void close_go_to(EditorState& s);
// A key pressed while the prompt is open; false when the prompt closed
// without taking it, and the key is then handled as usual.
bool go_to_key(EditorState& s, const SDL_keysym& key);
