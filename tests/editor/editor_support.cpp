#include "editor_support.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

void EditorTest::SetUp() {
    setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1); // where rescued work goes
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}

void EditorTest::TearDown() {
    editor_close(ed);
    SDL_SetModState(KMOD_NONE);
}

void EditorTest::open_streams() {
    ASSERT_TRUE(write_bytes(path, assemble_tileset(streams)));
    ASSERT_TRUE(editor_open(ed, path.c_str()));
    ASSERT_NE(nullptr, ed.surfaces.screen);
    ASSERT_EQ(32, ed.surfaces.screen->format->BitsPerPixel);
}

void EditorTest::set_tile_count(uint32_t count) { put_u32_le(streams.info, PALETTE_BYTES, count); }

void EditorTest::set_image_offset(uint32_t i, uint32_t offset) {
    put_u32_le(streams.info, image_offset_at(capacity_of(streams), i), offset);
}

namespace {

SDL_Event key_press(Uint8 type, SDLKey sym, int mod) {
    SDL_Event e = {};
    e.type = e.key.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = SDLMod(mod);
    return e;
}

// A mouse event with modifiers comes after their keys' presses, as from a
// keyboard, and their releases follow it.
void send(Editor& ed, const SDL_Event& event, int mod) {
    const bool mouse = event.type == SDL_MOUSEMOTION || event.type == SDL_MOUSEBUTTONDOWN ||
                       event.type == SDL_MOUSEBUTTONUP;
    const bool ctrl = mouse && (mod & KMOD_CTRL), shift = mouse && (mod & KMOD_SHIFT);
    if (ctrl) editor_handle_event(ed, key_press(SDL_KEYDOWN, SDLK_LCTRL, KMOD_LCTRL));
    if (shift) editor_handle_event(ed, key_press(SDL_KEYDOWN, SDLK_LSHIFT, mod & KMOD_SHIFT));
    SDL_SetModState(SDLMod(mod));
    editor_handle_event(ed, event);
    SDL_SetModState(KMOD_NONE);
    if (shift) editor_handle_event(ed, key_press(SDL_KEYUP, SDLK_LSHIFT, mod & KMOD_CTRL));
    if (ctrl) editor_handle_event(ed, key_press(SDL_KEYUP, SDLK_LCTRL, KMOD_NONE));
}

SDL_Event button_event(Uint8 type, uint8_t button, int x, int y) {
    SDL_Event e = {};
    e.type = e.button.type = type;
    e.button.button = button;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = Uint16(x);
    e.button.y = Uint16(y);
    return e;
}

} // namespace

void EditorTest::key(SDLKey sym, int mod) { send(ed, key_press(SDL_KEYDOWN, sym, mod), mod); }

void EditorTest::key_event(Uint8 type, SDLKey sym, int mod) {
    editor_handle_event(ed, key_press(type, sym, mod));
}

void EditorTest::press(uint8_t button, int x, int y, int mod) {
    send(ed, button_event(SDL_MOUSEBUTTONDOWN, button, x, y), mod);
}

void EditorTest::release(uint8_t button, int x, int y, int mod) {
    send(ed, button_event(SDL_MOUSEBUTTONUP, button, x, y), mod);
}

void EditorTest::move(int x, int y, int mod) {
    SDL_Event e = {};
    e.type = e.motion.type = SDL_MOUSEMOTION;
    e.motion.x = Uint16(x);
    e.motion.y = Uint16(y);
    send(ed, e, mod);
}

void EditorTest::click(int x, int y, int mod) {
    press(SDL_BUTTON_LEFT, x, y, mod);
    release(SDL_BUTTON_LEFT, x, y, mod);
}

void EditorTest::right_click(int x, int y, int mod) {
    press(SDL_BUTTON_RIGHT, x, y, mod);
    release(SDL_BUTTON_RIGHT, x, y, mod);
}

void EditorTest::quit_event() {
    SDL_Event e = {};
    e.type = SDL_QUIT;
    send(ed, e, KMOD_NONE);
}

std::vector<uint32_t> EditorTest::selected() {
    std::vector<uint32_t> out;
    for (uint32_t p = 0; p < arr().tile_count; ++p)
        if (arr().selected[p]) out.push_back(p);
    EXPECT_EQ(out.size(), arr().selected_count) << "selected_count disagrees with the flags";
    return out;
}

std::vector<uint32_t> EditorTest::held_origins() {
    std::vector<uint32_t> out;
    for (uint32_t k = 0; k < arr().holding_count; ++k)
        out.push_back(arr().holding.records[k].origin);
    return out;
}

std::vector<uint32_t> EditorTest::origins(uint32_t first, uint32_t last) {
    return std::vector<uint32_t>(arr().origin.begin() + first, arr().origin.begin() + last + 1);
}

std::string EditorTest::caption() {
    char* title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    return title ? title : "";
}

uint32_t EditorTest::pixel(int x, int y) {
    SDL_Surface* screen = ed.surfaces.screen;
    const uint8_t* line = static_cast<const uint8_t*>(screen->pixels) + size_t(y) * screen->pitch;
    return reinterpret_cast<const uint32_t*>(line)[x] & 0xFFFFFF;
}

Cell EditorTest::screen_cell(uint32_t column, uint32_t row) {
    Cell cell;
    for (int y = 0; y < CELL_SIZE; ++y)
        for (int x = 0; x < CELL_SIZE; ++x)
            cell[y * CELL_SIZE + x] = pixel(int(column) * CELL_SIZE + x, int(row) * CELL_SIZE + y);
    return cell;
}

uint32_t EditorTest::palette_colour(uint8_t c) const {
    const uint8_t* rgb = &streams.info[4 * c];
    return uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
}

Cell EditorTest::expected_image(uint32_t offset) const {
    Cell cell = filled(BACKGROUND_COLOUR);
    // Only whole images count as part of the stream.
    uint64_t end = streams.images.size() / IMAGE_BYTES * IMAGE_BYTES;
    for (uint32_t y = 0; y < IMAGE_SIDE; ++y) {
        uint64_t line = uint64_t(offset) + uint64_t(y) * IMAGE_SIDE;
        if (line + IMAGE_SIDE > end) break;
        for (uint32_t x = 0; x < IMAGE_SIDE; ++x) {
            uint8_t c = streams.images[size_t(line) + x];
            if (c != 0) cell[y * CELL_SIZE + x] = palette_colour(c);
        }
    }
    return cell;
}

Cell EditorTest::filled(uint32_t colour) {
    Cell cell;
    cell.fill(colour);
    return cell;
}

Cell EditorTest::empty_marker() {
    Cell cell = filled(BACKGROUND_COLOUR);
    for (int i = 0; i < CELL_SIZE; ++i) {
        cell[i * CELL_SIZE + i] = 0;
        cell[i * CELL_SIZE + CELL_SIZE - 1 - i] = 0;
    }
    return cell;
}

Cell EditorTest::as_selected(Cell cell) {
    for (int y = 0; y < CELL_SIZE; ++y) {
        for (int x = 0; x < CELL_SIZE; ++x) {
            int ring = std::min(std::min(x, y), std::min(CELL_SIZE - 1 - x, CELL_SIZE - 1 - y));
            uint32_t& p = cell[y * CELL_SIZE + x];
            p = ring == 0 ? FRAME_LIGHT : ring == 1 ? FRAME_DARK : p ^ 0xFFFFFF;
        }
    }
    return cell;
}

::testing::AssertionResult same_cell(const Cell& expected, const Cell& actual) {
    for (int i = 0; i < CELL_SIZE * CELL_SIZE; ++i) {
        if (expected[i] == actual[i]) continue;
        std::ostringstream out;
        out << "pixel (" << std::dec << i % CELL_SIZE << ", " << i / CELL_SIZE << ") is 0x"
            << std::hex << actual[i] << ", expected 0x" << expected[i];
        return ::testing::AssertionFailure() << out.str();
    }
    return ::testing::AssertionSuccess();
}
