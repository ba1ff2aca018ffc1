// The editor's life: open the tileset and the window, run the event loop,
// close everything. One global state, as there is one window.
#include "editor.h"

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

bool open_window(EditorState& s) {
    if (!init_video()) return false;
    show_caption(s);
    s.screen = SDL_SetVideoMode(SCREEN_WIDTH, SCREEN_HEIGHT, 32, SDL_SWSURFACE);
    if (!s.screen) return false;
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
    bool tracked = tables_present(s);
    if (tracked) history_begin_edit(s.arrangement);
    handler(event);
    if (tracked && tables_present(s)) history_end_edit(s.arrangement, drag);
}

// Ctrl+Z undoes; Ctrl+Y and Ctrl+Shift+Z redo. Not while a drag goes on.
void undo_or_redo(EditorState& s, SDLKey sym) {
    if (s.painting || s.carrying || !tables_present(s)) return;
    if (sym == SDLK_z && !(SDL_GetModState() & KMOD_SHIFT))
        history_undo(s.arrangement);
    else
        history_redo(s.arrangement);
}

} // namespace

EditorState& editor_state() { return g_state; }

bool tables_present(const EditorState& s) { return s.tileset.streams[STREAM_INFO].unpacked; }

std::string editor_caption(const EditorState& s) {
    const char* path = s.tileset_path ? s.tileset_path : "";
    const char* slash = strrchr(path, '/');
    std::string text = std::string("Kelbo Tool - ") + (slash ? slash + 1 : path);
    if (history_unsaved(s.arrangement)) text += " (unsaved)";
    if (s.mode == MODE_HOLDING) text += " - holding view";
    if (s.arrangement.holding_count > 0)
        text += " - " + std::to_string(s.arrangement.holding_count) + " held";
    return text;
}

bool editor_open(const char* path) {
    EditorState& s = g_state;
    s = EditorState{};
    s.tileset_path = path;
    // The file stays open for the session; its lock is held only while it
    // is read or written, so that a replay may still run meanwhile.
    if (!lock_tileset(path, s.file, INTERACTIVE_LOCK_WAIT_MS, &s.swaps_folder) ||
        !tileset_load(s.tileset, s.file, STREAM_MASK_INFO | STREAM_MASK_IMAGE)) {
        printf("Failed to load tileset!\n");
        return false;
    }
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

void editor_handle_event(const SDL_Event& event) {
    EditorState& s = g_state;
    const ModeHandlers& view = handlers_for(s.mode);
    switch (event.type) {
    case SDL_KEYDOWN:
        switch (event.key.keysym.sym) {
        case SDLK_TAB: s.mode = s.mode == MODE_TILESET ? MODE_HOLDING : MODE_TILESET; break;
        case SDLK_ESCAPE: s.running = false; break;
        case SDLK_1: s.mode = MODE_TILESET; break;
        case SDLK_2: s.mode = MODE_HOLDING; break;
        case SDLK_y:
        case SDLK_z:
            if (SDL_GetModState() & KMOD_CTRL) {
                undo_or_redo(s, event.key.keysym.sym);
                break;
            }
            handle(view.key_down, event.key, false);
            break;
        default: handle(view.key_down, event.key, false); break;
        }
        break;
    case SDL_MOUSEMOTION: handle(view.motion, event.motion, true); break;
    case SDL_MOUSEBUTTONDOWN: handle(view.button_down, event.button, false); break;
    case SDL_MOUSEBUTTONUP: handle(view.button_up, event.button, false); break;
    case SDL_QUIT: s.running = false; break;
    default: break;
    }
    // The carry's edit ends with the carry, however that ended.
    if (!s.carrying && tables_present(s)) history_end_drag(s.arrangement);
    if (!s.screen) return;
    if (tables_present(s)) show_caption(s);
    handlers_for(s.mode).render();
    SDL_Flip(s.screen);
}

void editor_run() {
    SDL_Event event;
    while (g_state.running) {
        if (!SDL_WaitEvent(&event)) {
            printf("Error while waiting for event: %s\n", SDL_GetError());
            continue;
        }
        editor_handle_event(event);
    }
}

void editor_close() {
    EditorState& s = g_state;
    SDL_Surface** surfaces[] = {&s.frame_surface, &s.empty_marker, &s.image_window,
                                &s.image_surface};
    for (SDL_Surface** surface : surfaces) {
        if (*surface) SDL_FreeSurface(*surface);
        *surface = nullptr;
    }
    SDL_Quit();
    s.screen = nullptr;
    arrangement_free(s.arrangement);
    s.swaps_path = std::string();
    s.swaps_name = std::string();
    if (s.swaps_folder >= 0) close(s.swaps_folder);
    s.swaps_folder = -1;
    close_file(s.file);
    s.caption = std::string();
    tileset_release(s.tileset);
    s.running = false;
}
