// Scrolling and the grid's extent: the scroll limit, an empty tileset, and
// positions past the last tile.
#include "editor_support.h"

namespace {

using V = std::vector<uint32_t>;

class EditorScrollTest : public EditorTest {
  protected:
    void wheel(uint8_t button, int times) {
        for (int i = 0; i < times; ++i) {
            press(button, 100, 100);
            release(button, 100, 100);
        }
    }
};

TEST_F(EditorScrollTest, ScrollLimitFollowsTheTileCount) {
    struct Case {
        uint32_t tiles, max_scroll;
    };
    for (Case c :
         {Case{100, 0}, Case{160, 0}, Case{161, 1}, Case{165, 1}, Case{170, 1}, Case{300, 14}}) {
        SCOPED_TRACE(c.tiles);
        editor_close(ed);
        set_tile_count(c.tiles);
        ASSERT_NO_FATAL_FAILURE(open_streams());
        EXPECT_EQ(c.max_scroll, ed.view.max_scroll);
        wheel(SDL_BUTTON_WHEELDOWN, 20);
        EXPECT_EQ(c.max_scroll, ed.view.scroll);
        wheel(SDL_BUTTON_WHEELUP, 1);
        EXPECT_EQ(c.max_scroll ? c.max_scroll - 1 : 0, ed.view.scroll);
        wheel(SDL_BUTTON_WHEELUP, 20);
        EXPECT_EQ(0u, ed.view.scroll);
        key(SDLK_PAGEDOWN);
        EXPECT_EQ(c.max_scroll, ed.view.scroll);
        // The last tile is shown and answers the mouse, even in a short row.
        const uint32_t last = c.tiles - 1;
        click_position(last);
        EXPECT_EQ(V({last}), selected());
        EXPECT_TRUE(
            same_cell(as_selected(expected_tile(last)),
                      screen_cell(last % GRID_COLUMNS, last / GRID_COLUMNS - c.max_scroll)));
        key(SDLK_PAGEUP);
        EXPECT_EQ(0u, ed.view.scroll);
    }

    // A stored count beyond what the tables hold counts only their capacity.
    editor_close(ed);
    set_tile_count(5000);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    EXPECT_EQ(1024u, arr().tile_count);
    EXPECT_EQ(1030u / 10 - 16, ed.view.max_scroll);
    wheel(SDL_BUTTON_WHEELDOWN, 100);
    EXPECT_EQ(ed.view.max_scroll, ed.view.scroll);
    click(SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1);
    EXPECT_EQ(V(), selected());
    click_position(1023);
    EXPECT_EQ(V({1023}), selected());
}

TEST_F(EditorScrollTest, TilesetWithoutTilesIgnoresEverything) {
    set_tile_count(0);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    EXPECT_EQ(0u, ed.view.max_scroll);
    click(16, 16);
    click(48, 16, KMOD_LSHIFT);
    press(SDL_BUTTON_RIGHT, 48, 16, KMOD_LCTRL);
    move(80, 16, KMOD_LCTRL);
    release(SDL_BUTTON_RIGHT, 80, 16);
    for (SDLKey k : {SDLK_x, SDLK_v, SDLK_w, SDLK_f, SDLK_r}) key(k, KMOD_LCTRL);
    key(SDLK_PAGEDOWN);
    wheel(SDL_BUTTON_WHEELDOWN, 1);
    EXPECT_EQ(0u, ed.view.scroll);
    EXPECT_EQ(0u, arr().selected_count);
    EXPECT_EQ(0u, arr().holding_count);
    EXPECT_EQ(BACKGROUND_COLOUR, pixel(28, 28));
    key(SDLK_TAB);
    click(16, 16);
    key(SDLK_DELETE);
    EXPECT_EQ(BACKGROUND_COLOUR, pixel(28, 28));
    EXPECT_TRUE(ed.view.running);
}

TEST_F(EditorScrollTest, ScrolledGridMapsThePointerToLowerRows) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    wheel(SDL_BUTTON_WHEELDOWN, 2);
    ASSERT_EQ(2u, ed.view.scroll);
    click(16, 16);
    EXPECT_EQ(V({20}), selected());
    EXPECT_TRUE(same_cell(expected_tile(21), screen_cell(1, 0)));
    EXPECT_TRUE(same_cell(as_selected(expected_tile(20)), screen_cell(0, 0)));

    // Rows scrolled past are out of reach; the carry works in grid terms.
    press(SDL_BUTTON_RIGHT, 16, 15 * CELL_SIZE + 16, KMOD_LCTRL);
    move(48, 15 * CELL_SIZE + 16, KMOD_LCTRL);
    release(SDL_BUTTON_RIGHT, 48, 15 * CELL_SIZE + 16);
    EXPECT_EQ(V({171, 170}), origins(170, 171));
}

TEST_F(EditorScrollTest, PositionsPastTheLastTileAreIgnored) {
    set_tile_count(95);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    click_position(5);

    for (uint32_t p : {95, 97}) {
        click_position(p);
        click_position(p, KMOD_LCTRL);
        click_position(p, KMOD_LSHIFT);
        EXPECT_EQ(V({5}), selected()) << p;
        right_click(cx(p), cy(p));
        press(SDL_BUTTON_RIGHT, cx(p), cy(p), KMOD_LCTRL);
        EXPECT_FALSE(ed.pointer.carrying) << p;
        release(SDL_BUTTON_RIGHT, cx(p), cy(p), KMOD_LCTRL);
        EXPECT_EQ(V({5}), selected()) << p;
    }

    // Neither a paint nor a carry reaches past the end.
    press(SDL_BUTTON_LEFT, cx(94), cy(94));
    for (uint32_t p : {95, 96, 97, 98, 99}) move_to_position(p);
    release(SDL_BUTTON_LEFT, cx(99), cy(99));
    EXPECT_EQ(V({94}), selected());
    press(SDL_BUTTON_RIGHT, cx(93), cy(93), KMOD_LCTRL);
    for (uint32_t p : {95, 96, 97, 98, 99}) move_to_position(p, KMOD_LCTRL);
    release(SDL_BUTTON_RIGHT, cx(99), cy(99), KMOD_LCTRL);
    EXPECT_EQ(V({93}), selected());
    for (uint32_t p = 0; p < 95; ++p) ASSERT_EQ(p, arr().origin[p]);
}

} // namespace
