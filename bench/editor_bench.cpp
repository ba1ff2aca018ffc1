// The editor's redraw and one carry step on the large sample, with the
// dummy video driver, each beside its floor.
#include "bench_support.h"

#include "loop.h"
#include "render.h"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

// The editor on a private copy of the large sample; closed on scope exit.
struct OpenEditor {
    Editor e;
    bool ok = false;
    explicit OpenEditor(const char* name) {
        const std::string path = bench_files().file(name);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ok = write_file_bytes(path, bench_files().large) && editor_open(e, path.c_str());
    }
    ~OpenEditor() { editor_close(e); }
};

// 40 selected positions: rows 4 to 7 of the first screen.
void select_forty(Arrangement& a) {
    for (uint32_t p = 40; p < 80; ++p) a.selected[p] = 1;
    a.selected_count = 40;
}

void redraw(benchmark::State& state) {
    OpenEditor editor("redraw.tileset");
    if (!editor.ok) {
        state.SkipWithError("editor_open failed");
        return;
    }
    select_forty(editor.e.session.arrangement);
    for (auto _ : state) render_tileset_view(editor.e);
}

// What any redraw of this screen must do: clear the screen, convert 160
// 8-bit images through the palette into the 32-bit screen, invert the 40
// selected cells. The palette is mapped once, as SDL maps it once per
// surface pair.
void redraw_floor(benchmark::State& state) {
    OpenEditor editor("redraw-floor.tileset");
    if (!editor.ok) {
        state.SkipWithError("editor_open failed");
        return;
    }
    const Session& s = editor.e.session;
    select_forty(editor.e.session.arrangement);
    SDL_Surface* screen = editor.e.surfaces.screen;
    const uint8_t* palette = s.tileset.info.palette;
    Uint32 colour[256];
    for (int i = 0; i < 256; ++i)
        colour[i] =
            SDL_MapRGB(screen->format, palette[4 * i], palette[4 * i + 1], palette[4 * i + 2]);
    const uint32_t* offset = s.arrangement.info.image_offset;
    const uint8_t* images = s.tileset.images;
    const size_t pitch = screen->pitch;

    for (auto _ : state) {
        SDL_FillRect(screen, nullptr, BACKGROUND_COLOUR);
        uint8_t* pixels = static_cast<uint8_t*>(screen->pixels);
        for (uint32_t row = 0; row < GRID_ROWS; ++row) {
            for (uint32_t column = 0; column < GRID_COLUMNS; ++column) {
                const uint8_t* src = images + offset[row * GRID_COLUMNS + column];
                uint8_t* cell = pixels + row * CELL_SIZE * pitch + column * CELL_SIZE * 4;
                for (uint32_t y = 0; y < IMAGE_SIDE; ++y) {
                    Uint32* line = reinterpret_cast<Uint32*>(cell + y * pitch);
                    for (uint32_t x = 0; x < IMAGE_SIDE; ++x)
                        line[x] = colour[src[y * IMAGE_SIDE + x]];
                }
            }
        }
        for (uint32_t p = 40; p < 80; ++p) {
            uint8_t* cell = pixels + (p / GRID_COLUMNS) * CELL_SIZE * pitch +
                            (p % GRID_COLUMNS) * CELL_SIZE * 4;
            for (uint32_t y = 0; y < CELL_SIZE; ++y) {
                Uint32* line = reinterpret_cast<Uint32*>(cell + y * pitch);
                for (uint32_t x = 0; x < CELL_SIZE; ++x) line[x] ^= 0xFFFFFF;
            }
        }
        benchmark::DoNotOptimize(pixels);
        benchmark::ClobberMemory();
    }
}

SDL_Event mouse_event(Uint8 type, Uint8 button, int column, int row) {
    SDL_Event e = {};
    e.type = type;
    if (type == SDL_MOUSEMOTION) {
        e.motion.type = type;
        e.motion.x = Uint16(column * CELL_SIZE + 16);
        e.motion.y = Uint16(row * CELL_SIZE + 16);
    } else {
        e.button.type = type;
        e.button.button = button;
        e.button.x = Uint16(column * CELL_SIZE + 16);
        e.button.y = Uint16(row * CELL_SIZE + 16);
    }
    return e;
}

// Ctrl + right press on position 44 picks it up; the motions then carry it
// back and forth between 44 and 45.
bool start_carry(Editor& e) {
    SDL_Event ctrl = {};
    ctrl.type = ctrl.key.type = SDL_KEYDOWN;
    ctrl.key.keysym.sym = SDLK_LCTRL;
    ctrl.key.keysym.mod = KMOD_LCTRL;
    editor_handle_event(e, ctrl); // held for the rest of the run
    editor_handle_event(e, mouse_event(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 4, 4));
    return e.pointer.carrying && e.pointer.anchor == 44 &&
           e.session.arrangement.selected_count == 1;
}

void carry_step(benchmark::State& state) {
    OpenEditor editor("carry.tileset");
    if (!editor.ok || !start_carry(editor.e)) {
        state.SkipWithError("could not start carrying");
        return;
    }
    const SDL_Event steps[2] = {mouse_event(SDL_MOUSEMOTION, 0, 5, 4),
                                mouse_event(SDL_MOUSEMOTION, 0, 4, 4)};
    int next = 0;
    for (auto _ : state) {
        editor_handle_event(editor.e, steps[next]);
        next ^= 1;
    }
    if (editor.e.pointer.anchor != (next ? 45u : 44u))
        state.SkipWithError("the carry did not move");
}

// The redraw the carry step ends with, on the same screen.
void carry_floor(benchmark::State& state) {
    OpenEditor editor("carry-floor.tileset");
    if (!editor.ok || !start_carry(editor.e)) {
        state.SkipWithError("could not start carrying");
        return;
    }
    for (auto _ : state) render_tileset_view(editor.e);
}

} // namespace

BENCHMARK(redraw)->Name("redraw/render_tileset_view")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(redraw_floor)->Name("redraw/floor")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(carry_step)
    ->Name("carry/editor_handle_event")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(carry_floor)->Name("carry/floor")->Unit(benchmark::kMicrosecond)->UseRealTime();
