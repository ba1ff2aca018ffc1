// Where the user stands: the pointer readout in the caption, the prompts,
// the keys that move the view, the zoom, the help sheet, and modifiers
// taken from the events rather than from the keyboard's state.
#include "editor_support.h"
#include "window.h"

namespace {

using V = std::vector<uint32_t>;

class EditorViewTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        unsetenv("KELBO_SCALE");
    }
    void focus(Uint8 state, Uint8 gain) {
        SDL_Event e = {};
        e.type = SDL_ACTIVEEVENT;
        e.active.gain = gain;
        e.active.state = state;
        editor_handle_event(ed, e);
    }
    void keys(const std::vector<SDLKey>& syms) {
        for (SDLKey k : syms) key(k);
    }
    // A click whose event comes with SDL's modifier state set to `mod`
    // but no key event to say so.
    void click_with_stale_state(uint32_t p, int mod) {
        SDL_Event e = {};
        e.type = e.button.type = SDL_MOUSEBUTTONDOWN;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.x = Uint16(cx(p));
        e.button.y = Uint16(cy(p));
        SDL_SetModState(SDLMod(mod));
        editor_handle_event(ed, e);
        e.type = e.button.type = SDL_MOUSEBUTTONUP;
        editor_handle_event(ed, e);
        SDL_SetModState(KMOD_NONE);
    }
};

TEST_F(EditorViewTest, CaptionNamesTheCellUnderThePointer) {
    set_tile_count(295);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    const std::string name = "Kelbo Tool - tiles.kts";
    EXPECT_EQ(name, caption()); // no pointer yet
    move_to_position(0);
    EXPECT_EQ(name + " - at 0: tile 0", caption());
    click_position(33);
    key(SDLK_x, KMOD_LCTRL);
    EXPECT_EQ(name + " - 1 held - at 33: empty", caption());
    press(SDL_BUTTON_WHEELDOWN, cx(33), cy(33)); // the view moves under a still pointer
    EXPECT_EQ(name + " - 1 held - at 43: tile 43", caption());
    key(SDLK_TAB);
    EXPECT_EQ(name + " - holding view - 1 held", caption()); // past the last held record
    move(5, 5);
    EXPECT_EQ(name + " - holding view - 1 held - held 0: tile 33", caption());
    key(SDLK_TAB);
    key(SDLK_END);
    move(SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1); // past the last tile, 294
    EXPECT_EQ(name + " - 1 held", caption());
    move(4 * CELL_SIZE, SCREEN_HEIGHT - 1);
    EXPECT_EQ(name + " - 1 held - at 294: tile 294", caption());
    focus(SDL_APPMOUSEFOCUS, 0);
    EXPECT_EQ(name + " - 1 held", caption());
    key(SDLK_UP);
    EXPECT_EQ(name + " - 1 held", caption()); // until the pointer moves in again
    move(SCREEN_WIDTH - 1, 0); // a drag gone outside: its motions come clamped to the edge
    EXPECT_EQ(name + " - 1 held", caption());
    focus(SDL_APPMOUSEFOCUS, 1);
    move(0, 0);
    EXPECT_EQ(name + " - 1 held - at 130: tile 130", caption());
}

// With details on, the readout gives the entries stored at every position.
TEST_F(EditorViewTest, DetailsAreTheTablesAtEveryPositionOfBothSamples) {
    for (bool large : {false, true}) {
        editor_close(ed);
        streams = make_sample_streams(large);
        ASSERT_NO_FATAL_FAILURE(open_streams());
        key(SDLK_i, KMOD_LCTRL);
        const uint32_t n = capacity_of(streams);
        for (uint32_t p = 0; p < arr().tile_count; ++p) {
            const size_t at = TABLES_OFFSET + 4 * p;
            auto u32 = [&](uint32_t k) { return read_u32_le(streams.info, at + k * n); };
            char want[128];
            snprintf(want, sizeof want,
                     "%u: tile %u, image %u, a %02x, b %02x, words %08x %08x %08x %08x %08x", p, p,
                     u32(2) / IMAGE_BYTES, streams.info[TABLES_OFFSET + p],
                     streams.info[TABLES_OFFSET + n + p], u32(6), u32(10), u32(14), u32(18),
                     u32(22));
            ed.view.scroll = std::min(p / GRID_COLUMNS, ed.view.max_scroll);
            move_to_position(p);
            ASSERT_EQ("Kelbo Tool - tiles.kts - at " + std::string(want), caption());
        }
    }
}

TEST_F(EditorViewTest, GoToShowsSelectsAndClosesAsAsked) {
    set_image_offset(250, 17 * IMAGE_BYTES);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    const std::string name = "Kelbo Tool - tiles.kts";
    key(SDLK_g, KMOD_LCTRL);
    EXPECT_EQ(name + " - go to: ", caption());
    keys({SDLK_2, SDLK_7, SDLK_BACKSPACE, SDLK_KP5});
    EXPECT_EQ(name + " - go to: 25", caption());
    key(SDLK_RETURN);
    EXPECT_EQ(name + " - 1 selected", caption());
    EXPECT_EQ(2u, ed.view.scroll);
    EXPECT_EQ(V({25}), selected());

    key(SDLK_TAB); // from the holding view too, and 1 and 2 are digits here
    key(SDLK_g, KMOD_LCTRL);
    keys({SDLK_2, SDLK_9, SDLK_1, SDLK_KP_ENTER});
    EXPECT_EQ(MODE_TILESET, ed.view.mode);
    EXPECT_EQ(ed.view.max_scroll, ed.view.scroll);
    EXPECT_EQ(V({291}), selected());

    key(SDLK_g, KMOD_LCTRL); // past the last tile: nothing moves
    keys({SDLK_3, SDLK_0, SDLK_0, SDLK_RETURN});
    EXPECT_EQ(V({291}), selected());
    key(SDLK_g, KMOD_LCTRL);
    keys({SDLK_1, SDLK_2, SDLK_3, SDLK_4, SDLK_5, SDLK_6});
    EXPECT_EQ(name + " - 1 selected - go to: 12345", caption());
    key(SDLK_ESCAPE);
    EXPECT_TRUE(ed.view.running);
    EXPECT_EQ(name + " - 1 selected", caption());

    key(SDLK_g, KMOD_LCTRL); // a click closes it and does its own work
    key(SDLK_5);
    click_position(ed.view.scroll * GRID_COLUMNS + 7);
    EXPECT_FALSE(ed.view.goto_open);
    EXPECT_EQ(V({ed.view.scroll * GRID_COLUMNS + 7}), selected());
    key(SDLK_g, KMOD_LCTRL); // so does any other key
    key(SDLK_TAB);
    EXPECT_FALSE(ed.view.goto_open);
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    key(SDLK_g, KMOD_LCTRL); // position 0 clears the selection, as a click on it does
    keys({SDLK_0, SDLK_RETURN});
    EXPECT_EQ(0u, ed.view.scroll);
    EXPECT_EQ(V(), selected());

    for (uint32_t p : {17, 250, 17}) { // `i` first: each tile using image 17 in turn
        key(SDLK_g, KMOD_LCTRL);
        keys({SDLK_i, SDLK_1, SDLK_7});
        EXPECT_NE(std::string::npos, caption().find(" - find image: 17"));
        key(SDLK_RETURN);
        EXPECT_EQ(V({p}), selected());
        EXPECT_EQ(std::min(p / GRID_COLUMNS, ed.view.max_scroll), ed.view.scroll);
    }
    key(SDLK_g, KMOD_LCTRL);
    keys({SDLK_i, SDLK_3, SDLK_0, SDLK_0, SDLK_RETURN});
    EXPECT_EQ("no tile uses image 300", ed.view.message);
}

TEST_F(EditorViewTest, ArrowsHomeAndEndMoveTheTilesetView) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    key(SDLK_UP);
    EXPECT_EQ(0u, ed.view.scroll);
    keys({SDLK_DOWN, SDLK_DOWN, SDLK_UP});
    EXPECT_EQ(1u, ed.view.scroll);
    key(SDLK_END);
    EXPECT_EQ(ed.view.max_scroll, ed.view.scroll);
    key(SDLK_DOWN);
    EXPECT_EQ(ed.view.max_scroll, ed.view.scroll);
    key(SDLK_TAB);
    key(SDLK_HOME); // not in the holding view
    EXPECT_EQ(ed.view.max_scroll, ed.view.scroll);
    key(SDLK_TAB);
    key(SDLK_HOME);
    EXPECT_EQ(0u, ed.view.scroll);
}

TEST_F(EditorViewTest, ZoomStepsBetweenOneAndFourAndDoublesEveryPixel) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    EXPECT_EQ(1, ed.view.scale); // the dummy driver knows no desktop size
    click_position(57);
    key(SDLK_EQUALS); // needs Ctrl
    EXPECT_EQ(1, ed.view.scale);
    key(SDLK_EQUALS, KMOD_LCTRL);
    ASSERT_EQ(2, ed.view.scale);
    ASSERT_EQ(2 * SCREEN_WIDTH, ed.surfaces.screen->w);
    ASSERT_EQ(2 * SCREEN_HEIGHT, ed.surfaces.screen->h);
    const SDL_Surface* picture = canvas(ed.surfaces);
    const SDL_Surface* screen = ed.surfaces.screen;
    for (int y = 0; y < screen->h; ++y)
        for (int x = 0; x < screen->w; ++x) {
            auto at = [](const SDL_Surface* s, int px, int py) {
                return reinterpret_cast<const Uint32*>(static_cast<const uint8_t*>(s->pixels) +
                                                       size_t(py) * s->pitch)[px];
            };
            ASSERT_EQ(at(picture, x / 2, y / 2), at(screen, x, y)) << x << ", " << y;
        }
    press(SDL_BUTTON_LEFT, 2 * cx(64), 2 * cy(64)); // the pointer is divided by the scale
    EXPECT_EQ(V({64}), selected());

    for (int i = 0; i < 3; ++i) key(SDLK_KP_PLUS, KMOD_LCTRL);
    EXPECT_EQ(4, ed.view.scale);
    // The pointer stays on its window pixel, which now shows position 32.
    EXPECT_EQ("Kelbo Tool - tiles.kts - 1 selected - at 32: tile 32", caption());
    key(SDLK_MINUS, KMOD_RCTRL);
    EXPECT_EQ(3, ed.view.scale);
    for (int i = 0; i < 3; ++i) key(SDLK_KP_MINUS, KMOD_LCTRL);
    EXPECT_EQ(1, ed.view.scale);
    EXPECT_EQ(ed.surfaces.screen, canvas(ed.surfaces));
    EXPECT_EQ(SCREEN_WIDTH, ed.surfaces.screen->w);

    editor_close(ed);
    setenv("KELBO_SCALE", "3", 1);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    EXPECT_EQ(3, ed.view.scale);
    EXPECT_EQ(3 * SCREEN_HEIGHT, ed.surfaces.screen->h);
}

TEST_F(EditorViewTest, StartingScaleFitsTheDesktopUnlessSet) {
    EXPECT_EQ(1, starting_scale(nullptr, 0, 0));       // size unknown
    EXPECT_EQ(1, starting_scale(nullptr, 1920, 1080)); // 90 %: 972 rows
    EXPECT_EQ(2, starting_scale(nullptr, 2560, 1440));
    EXPECT_EQ(3, starting_scale(nullptr, 3840, 2160));
    EXPECT_EQ(4, starting_scale(nullptr, 7680, 4320));
    EXPECT_EQ(1, starting_scale(nullptr, 600, 4320)); // the width decides here
    EXPECT_EQ(4, starting_scale("4", 800, 600));
    for (const char* bad : {"0", "5", "", "22", "2x", "-1"})
        EXPECT_EQ(2, starting_scale(bad, 2560, 1440)) << bad;
}

TEST_F(EditorViewTest, HelpSheetCoversTheGridUntilAnyPress) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    click_position(14);
#ifndef _WIN32 // the Windows build has no font for it
    key(SDLK_F1);
    EXPECT_EQ("Kelbo Tool - tiles.kts - 1 selected - help - at 14: tile 14", caption());
    EXPECT_NE(palette_colour(16), pixel(28, 28)); // position 0's ground is under it
    key(SDLK_x, KMOD_LCTRL);                      // only closes it
    EXPECT_EQ(0u, arr().holding_count);
    ed.surfaces.help.reset(); // as if the font had not been found
    ed.surfaces.font.reset();
#endif
    key(SDLK_F1);
    EXPECT_EQ("help needs the DejaVu font", ed.view.message);
}

TEST_F(EditorViewTest, MouseModifiersComeFromKeyEventsInOrder) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    click_position(5);
    click_with_stale_state(7, KMOD_LCTRL); // no Control key event: a plain click
    EXPECT_EQ(V({7}), selected());
    key_event(SDL_KEYDOWN, SDLK_RCTRL, KMOD_RCTRL);
    click_with_stale_state(9, KMOD_NONE); // Control is down, whatever SDL says now
    EXPECT_EQ(V({7, 9}), selected());
    key_event(SDL_KEYUP, SDLK_RCTRL, KMOD_NONE);
    click_with_stale_state(3, KMOD_NONE);
    EXPECT_EQ(V({3}), selected());

    key_event(SDL_KEYDOWN, SDLK_x, KMOD_LCTRL); // a key's own modifiers count
    EXPECT_EQ(1u, arr().holding_count);

    SDL_SetModState(KMOD_LSHIFT); // pressed while the window had no keyboard
    focus(SDL_APPINPUTFOCUS, 1);
    SDL_SetModState(KMOD_NONE);
    click_with_stale_state(23, KMOD_NONE);
    EXPECT_EQ(V({20, 21, 22, 23, 24, 25, 26, 27, 28, 29}), selected());

    key_event(SDL_KEYDOWN, SDLK_LCTRL, KMOD_NONE);
    focus(SDL_APPMOUSEFOCUS, 0); // and released outside, where the keyboard followed
    focus(SDL_APPMOUSEFOCUS, 1);
    click_with_stale_state(40, KMOD_NONE);
    EXPECT_EQ(V({40}), selected());
}

} // namespace
