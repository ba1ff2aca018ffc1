// What the two views draw, pixel by pixel, against images worked out from
// the sample's own streams and palette.
#include "editor_support.h"

namespace {

class EditorRenderTest : public EditorTest {
  protected:
    // Redraws without changing anything.
    void redraw() { move(SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1); }
    void wheel_to(uint32_t scroll) {
        for (int guard = 0; ed.view.scroll != scroll && guard < 5000; ++guard) {
            uint8_t button = ed.view.scroll < scroll ? SDL_BUTTON_WHEELDOWN : SDL_BUTTON_WHEELUP;
            press(button, 100, 100);
            release(button, 100, 100);
        }
        ASSERT_EQ(scroll, ed.view.scroll);
    }
    uint32_t stored_offset(uint32_t p) const {
        return read_u32_le(streams.info, image_offset_at(capacity_of(streams), p));
    }
    // Every visible cell against the image its stored offset names.
    void expect_grid_shows_stored_images() {
        for (uint32_t row = 0; row < GRID_ROWS; ++row) {
            for (uint32_t column = 0; column < GRID_COLUMNS; ++column) {
                uint32_t p = (ed.view.scroll + row) * GRID_COLUMNS + column;
                Cell want = p < arr().tile_count ? expected_image(stored_offset(p))
                                                 : filled(BACKGROUND_COLOUR);
                ASSERT_TRUE(same_cell(want, screen_cell(column, row))) << "position " << p;
            }
        }
    }
};

TEST_F(EditorRenderTest, CellsShowTileImagesOverTheBackground) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    redraw();
    expect_grid_shows_stored_images();

    // The same facts spelled out, in case the model above shares a mistake.
    EXPECT_EQ(BACKGROUND_COLOUR, pixel(0, 0)); // position 0's notch
    EXPECT_EQ(BACKGROUND_COLOUR, pixel(3 * CELL_SIZE + 3, CELL_SIZE));
    EXPECT_NE(BACKGROUND_COLOUR, pixel(3 * CELL_SIZE + 4, CELL_SIZE));
    EXPECT_EQ(palette_colour(16), pixel(28, 28));
    EXPECT_EQ(palette_colour(16 + 37), pixel(7 * CELL_SIZE + 28, 3 * CELL_SIZE + 28));
    EXPECT_EQ(0xFFFFFFu, palette_colour(255));
}

TEST_F(EditorRenderTest, CellsPastTheLastTileShowOnlyBackground) {
    set_tile_count(95);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    redraw();
    expect_grid_shows_stored_images();
    EXPECT_TRUE(same_cell(filled(BACKGROUND_COLOUR), screen_cell(5, 9)));
    EXPECT_TRUE(same_cell(filled(BACKGROUND_COLOUR), screen_cell(9, 15)));
}

TEST_F(EditorRenderTest, SelectionAndEmptyPositionsHaveTheirOwnLook) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    click_position(14);
    key(SDLK_x, KMOD_LCTRL);
    click_position(50);
    EXPECT_TRUE(same_cell(empty_marker(), screen_cell(4, 1)));
    EXPECT_TRUE(same_cell(as_selected(expected_tile(50)), screen_cell(0, 5)));
    EXPECT_TRUE(same_cell(expected_tile(51), screen_cell(1, 5)));

    click_position(14, KMOD_LCTRL);
    EXPECT_TRUE(same_cell(as_selected(empty_marker()), screen_cell(4, 1)));
    EXPECT_TRUE(same_cell(as_selected(expected_tile(50)), screen_cell(0, 5)));
    EXPECT_EQ(0xFFFFFFu, pixel(4 * CELL_SIZE + 10, CELL_SIZE + 10));
    EXPECT_EQ(BACKGROUND_COLOUR ^ 0xFFFFFF, pixel(4 * CELL_SIZE + 10, CELL_SIZE + 11));
    EXPECT_EQ(FRAME_LIGHT, pixel(4 * CELL_SIZE, CELL_SIZE + 20));
    EXPECT_EQ(FRAME_DARK, pixel(4 * CELL_SIZE + 30, CELL_SIZE + 20));

    // Deselected, both go back to their plain look.
    click_position(15);
    EXPECT_TRUE(same_cell(empty_marker(), screen_cell(4, 1)));
    EXPECT_TRUE(same_cell(expected_tile(50), screen_cell(0, 5)));
}

TEST_F(EditorRenderTest, PositionZeroAlwaysShowsItsImage) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    click_position(5, KMOD_LSHIFT);
    key(SDLK_x, KMOD_LCTRL);
    ASSERT_EQ(9u, arr().holding_count);
    EXPECT_TRUE(same_cell(expected_tile(0), screen_cell(0, 0)));
    for (uint32_t column = 1; column < 10; ++column)
        EXPECT_TRUE(same_cell(empty_marker(), screen_cell(column, 0))) << column;
}

TEST_F(EditorRenderTest, HoldingViewShowsHeldTilesInOrder) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    click_position(23, KMOD_LSHIFT);
    click_position(35, KMOD_LCTRL);
    key(SDLK_x, KMOD_LCTRL);
    key(SDLK_TAB);
    ASSERT_EQ(11u, arr().holding_count);
    for (uint32_t k = 0; k < GRID_COLUMNS * GRID_ROWS; ++k) {
        Cell want = k < 10    ? expected_tile(20 + k)
                    : k == 10 ? expected_tile(35)
                              : filled(BACKGROUND_COLOUR);
        ASSERT_TRUE(same_cell(want, screen_cell(k % 10, k / 10))) << "cell " << k;
    }
    // The tileset view is drawn again on the way back.
    key(SDLK_TAB);
    EXPECT_TRUE(same_cell(empty_marker(), screen_cell(0, 2)));
    EXPECT_TRUE(same_cell(expected_tile(36), screen_cell(6, 3)));
}

TEST_F(EditorRenderTest, ScrolledGridDrawsLowerRows) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    wheel_to(2);
    EXPECT_TRUE(same_cell(expected_tile(20), screen_cell(0, 0)));
    expect_grid_shows_stored_images();
    key(SDLK_PAGEDOWN);
    ASSERT_EQ(14u, ed.view.scroll);
    EXPECT_TRUE(same_cell(expected_tile(299), screen_cell(9, 15)));
    expect_grid_shows_stored_images();
}

// Offsets that leave the stream, whole or in part, must draw only the rows
// that exist; the sanitizer build catches any read past the buffer.
TEST_F(EditorRenderTest, ImagesRunningPastTheStreamDrawOnlyTheirRows) {
    const uint32_t end = uint32_t(streams.images.size());
    set_image_offset(290, end - 16 * IMAGE_SIDE);
    set_image_offset(291, end - IMAGE_SIDE);
    set_image_offset(292, end);
    set_image_offset(293, 0xFFFFFFE0);
    set_image_offset(294, 0x7FFFFC00);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    key(SDLK_PAGEDOWN);
    ASSERT_EQ(14u, ed.view.scroll);
    expect_grid_shows_stored_images();
    // Position 290 shows the last 16 rows of the stream, then background.
    EXPECT_EQ(palette_colour(16 + 299 % 224), pixel(28, 15 * CELL_SIZE + 12));
    EXPECT_EQ(BACKGROUND_COLOUR, pixel(28, 15 * CELL_SIZE + 16));
}

TEST_F(EditorRenderTest, ShortImageStreamIsNeverReadPastItsEnd) {
    streams.images.resize(streams.images.size() - 512);
    ASSERT_NO_FATAL_FAILURE(printed_by([&] { open_streams(); })); // with its warning
    key(SDLK_PAGEDOWN);
    EXPECT_TRUE(same_cell(expected_tile(298), screen_cell(8, 15)));
    // The missing half of tile 299 must stay background.
    for (int y = 16; y < CELL_SIZE; ++y)
        for (int x = 0; x < CELL_SIZE; ++x)
            ASSERT_EQ(BACKGROUND_COLOUR, pixel(9 * CELL_SIZE + x, 15 * CELL_SIZE + y));

    // Not even one whole image: nothing to draw, but the editor works.
    editor_close(ed);
    streams.images.resize(IMAGE_BYTES - 1);
    ASSERT_NO_FATAL_FAILURE(printed_by([&] { open_streams(); }));
    click_position(14);
    key(SDLK_x, KMOD_LCTRL);
    EXPECT_TRUE(same_cell(filled(BACKGROUND_COLOUR), screen_cell(0, 0)));
    EXPECT_TRUE(same_cell(empty_marker(), screen_cell(4, 1)));
    key(SDLK_TAB);
    EXPECT_TRUE(same_cell(filled(BACKGROUND_COLOUR), screen_cell(0, 0)));
}

// Past image 1023 a row index no longer fits a 16-bit blit coordinate.
TEST_F(EditorRenderTest, LargeLayoutDrawsImagesFarDownTheStream) {
    streams = make_sample_streams(true);
    const uint32_t end = uint32_t(streams.images.size());
    set_image_offset(4001, end - 16 * IMAGE_SIDE);
    set_image_offset(4002, end - IMAGE_SIDE);
    set_image_offset(4003, end);
    set_image_offset(4004, 0xFFFFFC00);
    set_image_offset(4005, 1023 * IMAGE_BYTES + 16 * IMAGE_SIDE); // straddles row 32768
    ASSERT_NO_FATAL_FAILURE(open_streams());
    EXPECT_EQ(394u, ed.view.max_scroll);

    // The bottom row holds tiles 4090-4095 and then background.
    key(SDLK_PAGEDOWN);
    EXPECT_EQ(394u, ed.view.scroll);
    expect_grid_shows_stored_images();
    wheel_to(390);
    expect_grid_shows_stored_images();
    EXPECT_EQ(palette_colour(16 + 4000 % 224), pixel(28, 10 * CELL_SIZE + 28));

    // Both sides of the last row a 16-bit coordinate reaches.
    wheel_to(100);
    expect_grid_shows_stored_images();
    click_position(1023);
    press(SDL_BUTTON_RIGHT, cx(1024), cy(1024));
    release(SDL_BUTTON_RIGHT, cx(1024), cy(1024));
    EXPECT_TRUE(same_cell(as_selected(expected_tile(1024)), screen_cell(3, 2)));
    EXPECT_TRUE(same_cell(expected_tile(1023), screen_cell(4, 2)));

    // The holding view draws through the same path.
    wheel_to(390);
    click_position(4000);
    key(SDLK_x, KMOD_LCTRL);
    key(SDLK_TAB);
    EXPECT_TRUE(same_cell(expected_tile(4000), screen_cell(0, 0)));
    EXPECT_TRUE(same_cell(filled(BACKGROUND_COLOUR), screen_cell(1, 0)));
}

} // namespace
