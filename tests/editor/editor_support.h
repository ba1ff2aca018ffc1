// Shared set-up for the editor tests: a sample tileset written to a scratch
// folder and opened on the dummy video driver, synthetic input events, and
// the pixels a cell ought to show, worked out from the sample's own streams.
#pragma once

#include "loop.h"
#include "sample_tileset.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Byte offsets into an unpacked info stream of capacity n.
inline size_t image_offset_at(uint32_t n, uint32_t i) { return TABLES_OFFSET + 2 * n + 4 * i; }
inline uint32_t capacity_of(const SampleStreams& s) { return s.version == 0x0201 ? 4096 : 1024; }

using Cell = std::array<uint32_t, CELL_SIZE * CELL_SIZE>;

class EditorTest : public ::testing::Test {
  protected:
    Editor ed;
    ScratchDir dir;
    std::string path = dir.file("tiles.kts");
    SampleStreams streams = make_sample_streams(false);

    void SetUp() override;
    void TearDown() override;

    // Writes `streams` (after the caller's changes) and opens the editor.
    void open_streams();
    void set_tile_count(uint32_t count);
    void set_image_offset(uint32_t i, uint32_t offset);

    Arrangement& arr() { return ed.session.arrangement; }

    // --- input; every modifier is released again afterwards ---------------------
    void key(SDLKey sym, int mod = KMOD_NONE);
    // A key event alone, with the modifiers it carries and no others.
    void key_event(Uint8 type, SDLKey sym, int mod);
    void press(uint8_t button, int x, int y, int mod = KMOD_NONE);
    void release(uint8_t button, int x, int y, int mod = KMOD_NONE);
    void move(int x, int y, int mod = KMOD_NONE);
    void click(int x, int y, int mod = KMOD_NONE);
    void right_click(int x, int y, int mod = KMOD_NONE);
    void quit_event();
    // The centre of position p's cell at the current scroll.
    static int cx(uint32_t p) { return int(p % GRID_COLUMNS) * CELL_SIZE + CELL_SIZE / 2; }
    int cy(uint32_t p) {
        return int(p / GRID_COLUMNS - ed.view.scroll) * CELL_SIZE + CELL_SIZE / 2;
    }
    void click_position(uint32_t p, int mod = KMOD_NONE) { click(cx(p), cy(p), mod); }
    void move_to_position(uint32_t p, int mod = KMOD_NONE) { move(cx(p), cy(p), mod); }

    // --- what the state says ----------------------------------------------------------
    // Selected positions; also checks that selected_count agrees.
    std::vector<uint32_t> selected();
    std::vector<uint32_t> held_origins();
    std::vector<uint32_t> origins(uint32_t first, uint32_t last); // inclusive

    // --- what the screen shows -------------------------------------------------------------
    std::string caption(); // as last set
    uint32_t pixel(int x, int y);
    Cell screen_cell(uint32_t column, uint32_t row);
    uint32_t palette_colour(uint8_t c) const;
    // An image as drawn on the background: colour 0 lets the background
    // through, and rows past the end of the image stream are not drawn.
    Cell expected_image(uint32_t offset) const;
    Cell expected_tile(uint32_t tile) const { return expected_image(tile * IMAGE_BYTES); }
    static Cell filled(uint32_t colour);
    static Cell empty_marker();
    // The selection look: colours inverted under a two-pixel frame.
    static Cell as_selected(Cell cell);
};

// An editor open on the sample, with a way to select positions by clicks.
class EditorInputTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(open_streams());
    }
    void select_positions(const std::vector<uint32_t>& positions) {
        for (size_t i = 0; i < positions.size(); ++i)
            click_position(positions[i], i == 0 ? KMOD_NONE : KMOD_LCTRL);
        ASSERT_EQ(positions, selected());
    }
};

// Reports the first differing pixel, which says far more than a bare
// inequality of 1024 values.
::testing::AssertionResult same_cell(const Cell& expected, const Cell& actual);
