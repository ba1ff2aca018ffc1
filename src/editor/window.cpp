#include "window.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

namespace {

// With no display SDL would fall back to a text-mode driver, which draws
// the window in characters over the tool's output: unless the user names a
// driver, only those that draw pixels are tried, in SDL's own order.
const char* const PIXEL_DRIVERS[] = {"x11", "dga", "fbcon", "directfb", "ggi", "svgalib"};

// Both image surfaces wrap the image stream itself, with the tileset's
// palette and colour 0 transparent.
Surface wrap_images(const TilesetFile& t, int height) {
    Surface surface(
        SDL_CreateRGBSurfaceFrom(t.images, IMAGE_SIDE, height, 8, IMAGE_SIDE, 0, 0, 0, 0));
    if (!surface) return surface;
    SDL_Color colours[256];
    for (int i = 0; i < 256; ++i) {
        const uint8_t* rgb = t.info.palette + 4 * i;
        colours[i] = {rgb[0], rgb[1], rgb[2], 0};
    }
    SDL_SetColors(surface.get(), colours, 0, 256);
    SDL_SetColorKey(surface.get(), SDL_SRCCOLORKEY, 0);
    return surface;
}

// A window `scale` times the picture's size; above 1 the picture is drawn
// apart and scaled onto it.
bool open_at_scale(Editor& e, int scale) {
    SDL_Surface* screen =
        SDL_SetVideoMode(SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale, 32, SDL_SWSURFACE);
    if (!screen) return false;
    Surface picture;
    if (scale > 1) {
        const SDL_PixelFormat* f = screen->format;
        picture.reset(SDL_CreateRGBSurface(SDL_SWSURFACE, SCREEN_WIDTH, SCREEN_HEIGHT, 32, f->Rmask,
                                           f->Gmask, f->Bmask, 0));
        if (!picture) return false;
    }
    e.surfaces.screen = screen;
    e.surfaces.picture = std::move(picture);
    e.view.scale = scale;
    return true;
}

// The cross an empty position shows, and the frame around a selected one.
bool build_markers(Surfaces& s) {
    for (Surface* m : {&s.empty_marker, &s.frame}) {
        m->reset(SDL_CreateRGBSurface(SDL_SWSURFACE, CELL_SIZE, CELL_SIZE, 32, 0xFF0000, 0x00FF00,
                                      0x0000FF, 0));
        if (!*m) return false;
        SDL_FillRect(m->get(), nullptr, m == &s.frame ? FRAME_LIGHT : MARKER_KEY);
        SDL_SetColorKey(m->get(), SDL_SRCCOLORKEY, MARKER_KEY);
    }
    for (int i = 0; i < CELL_SIZE; ++i) {
        SDL_Rect dots[] = {{Sint16(i), Sint16(i), 1, 1},
                           {Sint16(CELL_SIZE - 1 - i), Sint16(i), 1, 1}};
        for (SDL_Rect& dot : dots) SDL_FillRect(s.empty_marker.get(), &dot, 0);
    }

    SDL_Rect dark = {1, 1, 30, 30}, clear = {2, 2, 28, 28};
    SDL_FillRect(s.frame.get(), &dark, FRAME_DARK);
    SDL_FillRect(s.frame.get(), &clear, MARKER_KEY);
    return true;
}

} // namespace

#ifdef _WIN32
bool init_video() { return SDL_Init(SDL_INIT_VIDEO) == 0; } // every driver there draws pixels
#else
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
#endif

bool open_window(Editor& e) {
    // Asked before the first window, this is the desktop's size.
    const SDL_VideoInfo* desktop = SDL_GetVideoInfo();
    e.view.desktop_width = desktop ? desktop->current_w : 0;
    e.view.desktop_height = desktop ? desktop->current_h : 0;
    int scale = starting_scale(getenv("KELBO_SCALE"), e.view.desktop_width, e.view.desktop_height);
    if (!open_at_scale(e, scale) && !(scale > 1 && open_at_scale(e, 1))) return false;
    const TilesetFile& t = e.session.tileset;
    if (t.image_block_count > 0) {
        e.surfaces.images = wrap_images(t, int(t.image_block_count * IMAGE_SIDE));
        e.surfaces.image_window = wrap_images(t, IMAGE_SIDE);
        if (!e.surfaces.images || !e.surfaces.image_window) return false;
    }
    return build_markers(e.surfaces);
}

int starting_scale(const char* setting, int desktop_width, int desktop_height) {
    if (setting && setting[0] >= '1' && setting[0] <= '0' + MAX_SCALE && setting[1] == '\0')
        return setting[0] - '0';
    int scale = MAX_SCALE;
    while (scale > 1 && (10 * SCREEN_WIDTH * scale > 9 * desktop_width ||
                         10 * SCREEN_HEIGHT * scale > 9 * desktop_height))
        --scale;
    return scale;
}

bool set_scale(Editor& e, int scale) {
    assert(scale >= 1 && scale <= MAX_SCALE);
    // The picture is drawn anew every frame, so nothing is lost with it.
    e.surfaces.picture.reset();
    e.surfaces.screen = nullptr;
    if (open_at_scale(e, scale)) return true;
    // The old window may have gone with the attempt: bring it back.
    if (!open_at_scale(e, e.view.scale) && !open_at_scale(e, 1)) {
        printf("Failed to open the window: %s\n", SDL_GetError());
        e.view.running = false;
    }
    return false;
}

void zoom_in(Editor& e) {
    View& v = e.view;
    const int scale = v.scale + 1;
    // A desktop of unknown size sets no bound.
    if ((v.desktop_width > 0 && SCREEN_WIDTH * scale > v.desktop_width) ||
        (v.desktop_height > 0 && SCREEN_HEIGHT * scale > v.desktop_height))
        v.message = "largest zoom for this screen";
    else
        set_scale(e, scale);
}
