// The editor's life: open the tileset and the window, run the event loop,
// close everything. One global state, as there is one window.
#include "editor.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

EditorState g_state;

const ModeHandlers& handlers_for(EditorMode mode) {
    return mode == MODE_HOLDING ? HOLDING_VIEW_HANDLERS : TILESET_VIEW_HANDLERS;
}

// Both image surfaces wrap the image stream itself, with the tileset's
// palette and colour 0 transparent.
SDL_Surface* wrap_images(EditorState& s, int height) {
    SDL_Surface* surface =
        SDL_CreateRGBSurfaceFrom(s.tileset.images, IMAGE_SIDE, height, 8, IMAGE_SIDE, 0, 0, 0, 0);
    if (!surface) return nullptr;
    SDL_Color colours[256];
    const uint8_t* palette = s.tileset.info.palette;
    for (int i = 0; i < 256; ++i) {
        colours[i].r = palette[4 * i];
        colours[i].g = palette[4 * i + 1];
        colours[i].b = palette[4 * i + 2];
        colours[i].unused = 0;
    }
    SDL_SetColors(surface, colours, 0, 256);
    SDL_SetColorKey(surface, SDL_SRCCOLORKEY, 0);
    return surface;
}

// The caption is set only when its text changes.
void show_caption(EditorState& s) {
    std::string text = editor_caption(s);
    if (text == s.caption) return;
    s.caption = text;
    SDL_WM_SetCaption(s.caption.c_str(), nullptr);
}

// With no display SDL would fall back to a text-mode driver and draw the
// window as characters in the terminal: no use for editing tiles, and it
// writes escape codes over the tool's output. So unless the user names a
// driver, only those that draw pixels are tried, in SDL's own order.
const char* const PIXEL_DRIVERS[] = {"x11", "dga", "fbcon", "directfb", "ggi", "svgalib"};

bool init_video() {
    const char* named = getenv("SDL_VIDEODRIVER");
    if (named && *named) return SDL_Init(SDL_INIT_VIDEO) == 0;
    if (SDL_Init(0) != 0) return false;
    std::string first_error; // the likeliest driver's reason is the one worth telling
    for (const char* driver : PIXEL_DRIVERS) {
        setenv("SDL_VIDEODRIVER", driver, 1);
        bool ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        unsetenv("SDL_VIDEODRIVER");
        if (ok) return true;
        if (first_error.empty()) first_error = SDL_GetError();
    }
    SDL_SetError("%s", first_error.c_str());
    return false;
}

// A window `scale` times the picture's size; above 1 the picture is drawn
// apart and scaled onto it.
bool open_at_scale(EditorState& s, int scale) {
    SDL_Surface* screen =
        SDL_SetVideoMode(SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale, 32, SDL_SWSURFACE);
    if (!screen) return false;
    SDL_Surface* canvas = screen;
    if (scale > 1) {
        const SDL_PixelFormat* f = screen->format;
        canvas = SDL_CreateRGBSurface(SDL_SWSURFACE, SCREEN_WIDTH, SCREEN_HEIGHT, 32, f->Rmask,
                                      f->Gmask, f->Bmask, 0);
        if (!canvas) return false;
    }
    s.screen = screen;
    s.canvas = canvas;
    s.scale = scale;
    return true;
}

bool open_window(EditorState& s) {
    if (!init_video()) return false;
    watch_for_endings();
    show_caption(s);
    // Asked before the first window, this is the desktop's size.
    const SDL_VideoInfo* desktop = SDL_GetVideoInfo();
    int scale = starting_scale(getenv("KELBO_SCALE"), desktop ? desktop->current_w : 0,
                               desktop ? desktop->current_h : 0);
    if (!open_at_scale(s, scale) && !(scale > 1 && open_at_scale(s, 1))) return false;
    if (s.tileset.image_block_count > 0) {
        s.image_surface = wrap_images(s, int(s.tileset.image_block_count * IMAGE_SIDE));
        s.image_window = wrap_images(s, IMAGE_SIDE);
        if (!s.image_surface || !s.image_window) return false;
    }
    return build_marker_surfaces();
}

// One handler call is one handling for the history: what it changes in
// the tables, origin or holding area is an edit, or with `drag` part of the
// carry's edit.
template <typename Event>
void handle(void (*handler)(const Event&), const Event& event, bool drag) {
    EditorState& s = g_state;
    history_begin_edit(s.arrangement);
    handler(event);
    history_end_edit(s.arrangement, drag);
}

// Ctrl+Z undoes; Ctrl+Y and Ctrl+Shift+Z redo. Not while a drag goes on.
void undo_or_redo(EditorState& s, const SDL_keysym& key) {
    if (s.painting || s.carrying) return;
    if (key.sym == SDLK_z && !(key.mod & KMOD_SHIFT))
        history_undo(s.arrangement);
    else
        history_redo(s.arrangement);
}

unsigned modifier_bit(SDLKey sym) {
    switch (sym) {
    case SDLK_LCTRL: return KMOD_LCTRL;
    case SDLK_RCTRL: return KMOD_RCTRL;
    case SDLK_LSHIFT: return KMOD_LSHIFT;
    case SDLK_RSHIFT: return KMOD_RSHIFT;
    default: return 0;
    }
}

// Remembers the pointer's window position and makes it one in the picture.
void point_at(EditorState& s, Uint16& x, Uint16& y) {
    // A drag that left the window still reports motions, clamped to its
    // edge: they say nothing of where the pointer is.
    if (s.pointer != POINTER_OUT) s.pointer = POINTER_IN;
    s.pointer_x = x;
    s.pointer_y = y;
    x = Uint16(x / s.scale);
    y = Uint16(y / s.scale);
}

// Keeps what mouse events need to know of the keyboard and the pointer:
// which Control and Shift keys are down, and where the pointer is in the
// picture. Mouse coordinates come back divided by the scale.
void follow_input(EditorState& s, SDL_Event& event) {
    switch (event.type) {
    case SDL_KEYDOWN: s.held_keys |= modifier_bit(event.key.keysym.sym); break;
    case SDL_KEYUP: s.held_keys &= ~modifier_bit(event.key.keysym.sym); break;
    case SDL_ACTIVEEVENT:
        // Keys pressed or released while another window had the keyboard
        // were never seen here. Where the keyboard follows the pointer (an
        // X server without a window manager) SDL tells only of the pointer.
        if ((event.active.state & (SDL_APPINPUTFOCUS | SDL_APPMOUSEFOCUS)) && event.active.gain)
            s.held_keys = SDL_GetModState() & (KMOD_CTRL | KMOD_SHIFT);
        if ((event.active.state & SDL_APPMOUSEFOCUS) && !event.active.gain)
            s.pointer = POINTER_OUT;
        else if ((event.active.state & SDL_APPMOUSEFOCUS) && s.pointer == POINTER_OUT)
            s.pointer = POINTER_UNKNOWN; // back in, but where shows with its first motion
        break;
    case SDL_MOUSEMOTION: point_at(s, event.motion.x, event.motion.y); break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: point_at(s, event.button.x, event.button.y); break;
    default: break;
    }
}

// Escape or a window close: with unsaved tables the first only asks.
void ask_to_quit(EditorState& s) {
    if (s.quit_pending || !history_unsaved(s.arrangement)) {
        s.running = false;
        return;
    }
    s.quit_pending = true;
    s.message = "unsaved changes: Escape again to quit";
}

// A key or button press first clears what the last one led to, and turns
// down a pending quit (but for the Escape that confirms it; one that closes
// the go-to prompt does not, and the question must not linger unseen). A
// modifier on its own is no answer yet.
void new_press(EditorState& s, const SDL_Event& event) {
    if (event.type == SDL_KEYDOWN && is_modifier_key(event.key.keysym.sym)) return;
    s.message.clear();
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE && !s.goto_open) return;
    s.quit_pending = false;
}

// The keys the loop takes in both views; false for any other.
bool loop_key(EditorState& s, const SDL_keysym& key) {
    const bool ctrl = (key.mod & KMOD_CTRL) != 0;
    switch (key.sym) {
    case SDLK_TAB: s.mode = s.mode == MODE_TILESET ? MODE_HOLDING : MODE_TILESET; return true;
    case SDLK_ESCAPE: ask_to_quit(s); return true;
    case SDLK_1: s.mode = MODE_TILESET; return true;
    case SDLK_2: s.mode = MODE_HOLDING; return true;
    case SDLK_y:
    case SDLK_z:
        if (ctrl) undo_or_redo(s, key);
        return ctrl;
    case SDLK_g:
        if (ctrl) open_go_to(s);
        return ctrl;
    case SDLK_EQUALS:
    case SDLK_KP_PLUS:
        if (ctrl && s.scale < MAX_SCALE) set_scale(s, s.scale + 1);
        return ctrl;
    case SDLK_MINUS:
    case SDLK_KP_MINUS:
        if (ctrl && s.scale > 1) set_scale(s, s.scale - 1);
        return ctrl;
    default: return false;
    }
}

} // namespace

EditorState& editor_state() { return g_state; }

int starting_scale(const char* setting, int desktop_width, int desktop_height) {
    if (setting && setting[0] >= '1' && setting[0] <= '0' + MAX_SCALE && setting[1] == '\0')
        return setting[0] - '0';
    int scale = MAX_SCALE;
    while (scale > 1 && (10 * SCREEN_WIDTH * scale > 9 * desktop_width ||
                         10 * SCREEN_HEIGHT * scale > 9 * desktop_height))
        --scale;
    return scale;
}

bool set_scale(EditorState& s, int scale) {
    assert(scale >= 1 && scale <= MAX_SCALE);
    // The picture is drawn anew every frame, so nothing is lost with it.
    if (s.canvas != s.screen) SDL_FreeSurface(s.canvas);
    s.canvas = s.screen = nullptr;
    if (open_at_scale(s, scale)) return true;
    // The old window may have gone with the attempt: bring it back.
    if (!open_at_scale(s, s.scale) && !open_at_scale(s, 1)) {
        printf("Failed to open the window: %s\n", SDL_GetError());
        s.running = false;
    }
    return false;
}

bool editor_open(const char* path) {
    EditorState& s = g_state;
    s = EditorState{};
    s.tileset_path = path;
    // The file stays open for the session; its lock is held only while it
    // is read or written, so that a replay may still run meanwhile.
    StorageStatus status = lock_tileset(path, s.file, INTERACTIVE_LOCK_WAIT_MS, &s.swaps_folder);
    if (status) status = tileset_load(s.tileset, s.file, STREAM_MASK_INFO | STREAM_MASK_IMAGE);
    fputs(load_message(status).c_str(), stdout);
    if (!status) return false;
    unlock_file(s.file);
    s.on_disk = name_stamp(s.file);
    arrangement_init(s.arrangement, s.tileset);
    history_mark_saved(s.arrangement); // the tables as loaded
    // Rounded up, so that a last row that is not full can be shown too.
    uint32_t rows = (s.arrangement.tile_count + GRID_COLUMNS - 1) / GRID_COLUMNS;
    s.max_scroll = rows > GRID_ROWS ? rows - GRID_ROWS : 0;
    s.swaps_path = std::string(path) + ".swaps";
    const char* slash = strrchr(path, '/');
    s.swaps_name = std::string(slash ? slash + 1 : path) + ".swaps";

    if (!open_window(s)) {
        printf("Failed to open the window: %s\n", SDL_GetError());
        return false;
    }
    s.running = true;
    return true;
}

void editor_handle_event(const SDL_Event& received) {
    EditorState& s = g_state;
    SDL_Event event = received;
    follow_input(s, event);
    const ModeHandlers& view = handlers_for(s.mode);
    if (event.type == SDL_KEYDOWN || event.type == SDL_MOUSEBUTTONDOWN) new_press(s, event);
    switch (event.type) {
    case SDL_KEYDOWN:
        if (s.goto_open && go_to_key(s, event.key.keysym)) break;
        if (!loop_key(s, event.key.keysym)) handle(view.key_down, event.key, false);
        break;
    case SDL_MOUSEMOTION: handle(view.motion, event.motion, true); break;
    case SDL_MOUSEBUTTONDOWN:
        close_go_to(s);
        handle(view.button_down, event.button, false);
        break;
    case SDL_MOUSEBUTTONUP: handle(view.button_up, event.button, false); break;
    case SDL_QUIT: ask_to_quit(s); break;
    default: break;
    }
    // The carry's edit ends with the carry, however that ended.
    if (!s.carrying) history_end_drag(s.arrangement);
    if (!s.screen) return;
    show_caption(s);
    handlers_for(s.mode).render();
    if (s.canvas != s.screen) draw_scaled(s.canvas, s.screen, s.scale);
    SDL_Flip(s.screen);
}

namespace {

enum Wait { WAIT_EVENT, WAIT_FAILED, WAIT_SIGNAL };

// SDL_WaitEvent, but one that also wakes for a signal: SDL's own polls and
// sleeps without ever looking at one.
Wait wait_for_event(SDL_Event& event) {
    for (;;) {
        if (ending_signal()) return WAIT_SIGNAL;
        SDL_PumpEvents();
        int got = SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_ALLEVENTS);
        if (got > 0) return WAIT_EVENT;
        if (got < 0) return WAIT_FAILED;
        SDL_Delay(10);
    }
}

} // namespace

int editor_run() {
    EditorState& s = g_state;
    SDL_Event event;
    int failures = 0; // in a row
    while (s.running) {
        Wait got = wait_for_event(event);
        if (got == WAIT_EVENT) {
            failures = 0;
            editor_handle_event(event);
            continue;
        }
        if (got == WAIT_SIGNAL) break;
        printf("Error while waiting for event: %s\n", SDL_GetError());
        // A wait that keeps failing will not recover; stop rather than spin.
        if (++failures == WAIT_FAILURE_LIMIT) break;
    }
    if (!s.running && s.screen) return 0; // the user quit
    // Ended otherwise: a signal, waits that kept failing, or a window that
    // could not be made again at another scale.
    keep_unsaved_work(s);
    s.running = false;
    return 1;
}

void editor_close() {
    EditorState& s = g_state;
    if (s.canvas == s.screen) s.canvas = nullptr; // SDL_Quit frees the screen
    SDL_Surface** surfaces[] = {&s.frame_surface, &s.empty_marker, &s.image_window,
                                &s.image_surface, &s.canvas};
    for (SDL_Surface** surface : surfaces) {
        if (*surface) SDL_FreeSurface(*surface);
        *surface = nullptr;
    }
    stop_watching();
    SDL_Quit();
    s.screen = nullptr;
    arrangement_free(s.arrangement);
    s.swaps_path = std::string();
    s.swaps_name = std::string();
    s.swaps_folder.reset();
    s.file = FileHandle{};
    s.caption = std::string();
    tileset_release(s.tileset);
    s.running = false;
}
