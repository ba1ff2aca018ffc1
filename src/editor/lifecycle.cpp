// The editor's life: open the tileset and the window, run the event loop,
// close everything. One global state, as there is one window.
#include "editor.h"

#include <cstdio>

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

bool open_window(EditorState& s) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    SDL_WM_SetCaption("Kelbo Tool", nullptr);
    s.screen = SDL_SetVideoMode(SCREEN_WIDTH, SCREEN_HEIGHT, 32, SDL_SWSURFACE);
    if (!s.screen) return false;
    if (s.tileset.image_block_count > 0) {
        s.image_surface = wrap_images(s, int(s.tileset.image_block_count * IMAGE_SIDE));
        s.image_window = wrap_images(s, IMAGE_SIDE);
        if (!s.image_surface || !s.image_window) return false;
    }
    return build_marker_surfaces();
}

} // namespace

EditorState& editor_state() { return g_state; }

bool editor_open(const char* path) {
    EditorState& s = g_state;
    s = EditorState{};
    s.tileset_path = path;
    if (!tileset_load(s.tileset, path, STREAM_MASK_INFO | STREAM_MASK_IMAGE)) {
        printf("Failed to load tileset!\n");
        return false;
    }
    arrangement_init(s.arrangement, s.tileset);
    // Rounded up, so that a last row that is not full can be shown too.
    uint32_t rows = (s.arrangement.tile_count + GRID_COLUMNS - 1) / GRID_COLUMNS;
    s.max_scroll = rows > GRID_ROWS ? rows - GRID_ROWS : 0;
    s.swaps_path = std::string(path) + ".swaps";

    if (!open_window(s)) {
        printf("Failed to open the window: %s\n", SDL_GetError());
        return false;
    }
    s.running = true;
    return true;
}

void editor_handle_event(const SDL_Event& event) {
    EditorState& s = g_state;
    switch (event.type) {
    case SDL_KEYDOWN:
        switch (event.key.keysym.sym) {
        case SDLK_TAB: s.mode = s.mode == MODE_TILESET ? MODE_HOLDING : MODE_TILESET; break;
        case SDLK_ESCAPE: s.running = false; break;
        case SDLK_1: s.mode = MODE_TILESET; break;
        case SDLK_2: s.mode = MODE_HOLDING; break;
        default: handlers_for(s.mode).key_down(event.key); break;
        }
        break;
    case SDL_MOUSEMOTION: handlers_for(s.mode).motion(event.motion); break;
    case SDL_MOUSEBUTTONDOWN: handlers_for(s.mode).button_down(event.button); break;
    case SDL_MOUSEBUTTONUP: handlers_for(s.mode).button_up(event.button); break;
    case SDL_QUIT: s.running = false; break;
    default: break;
    }
    if (!s.screen) return;
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
    tileset_release(s.tileset);
    s.running = false;
}
