// The tileset view's mouse bindings, driven through editor_handle_event as
// the loop would.
#include "editor_support.h"

namespace {

using V = std::vector<uint32_t>;

// --- left button ------------------------------------------------------------------

TEST_F(EditorInputTest, PlainClickReplacesSelectionCtrlClickToggles) {
    select_positions({3, 7});
    click_position(14);
    EXPECT_EQ(V({14}), selected());

    select_positions({3, 7});
    click_position(14, KMOD_LCTRL);
    EXPECT_EQ(V({3, 7, 14}), selected());
    click_position(14, KMOD_RCTRL);
    EXPECT_EQ(V({3, 7}), selected());
    EXPECT_FALSE(ed.pointer.painting);
}

TEST_F(EditorInputTest, DragPaintsWithTheStateThePressChose) {
    // A plain press selects, and the drag selects every position entered.
    select_positions({50});
    press(SDL_BUTTON_LEFT, cx(21), cy(21));
    EXPECT_TRUE(ed.pointer.painting);
    EXPECT_EQ(0, ed.pointer.paint);
    for (uint32_t p : {22, 23, 33, 22}) move_to_position(p);
    release(SDL_BUTTON_LEFT, cx(22), cy(22));
    EXPECT_EQ(V({21, 22, 23, 33}), selected());
    EXPECT_FALSE(ed.pointer.painting);
    move_to_position(40);
    EXPECT_EQ(V({21, 22, 23, 33}), selected());

    // A Ctrl press on a selected position deselects, and so does the drag,
    // leaving unselected positions alone whether Ctrl stays down or not.
    select_positions({3, 4, 7, 12});
    press(SDL_BUTTON_LEFT, cx(3), cy(3), KMOD_LCTRL);
    EXPECT_EQ(1, ed.pointer.paint);
    EXPECT_EQ(V({4, 7, 12}), selected());
    move_to_position(4, KMOD_LCTRL);
    for (uint32_t p : {5, 6, 7}) move_to_position(p);
    release(SDL_BUTTON_LEFT, cx(7), cy(7));
    EXPECT_EQ(V({12}), selected());
}

TEST_F(EditorInputTest, DragNeverTouchesPositionZero) {
    press(SDL_BUTTON_LEFT, cx(2), cy(2));
    move_to_position(1);
    move_to_position(0);
    move_to_position(10);
    release(SDL_BUTTON_LEFT, cx(10), cy(10));
    EXPECT_EQ(V({1, 2, 10}), selected());
}

TEST_F(EditorInputTest, ShiftSelectsWholeRows) {
    select_positions({5});
    press(SDL_BUTTON_LEFT, cx(23), cy(23), KMOD_LSHIFT);
    V rows;
    for (uint32_t p = 20; p < 30; ++p) rows.push_back(p);
    EXPECT_EQ(rows, selected());

    move_to_position(37, KMOD_LSHIFT);
    for (uint32_t p = 30; p < 40; ++p) rows.push_back(p);
    EXPECT_EQ(rows, selected());
    // Within the row just painted nothing more happens.
    for (uint32_t p : {31, 39, 30}) move_to_position(p, KMOD_RSHIFT);
    EXPECT_EQ(rows, selected());
    release(SDL_BUTTON_LEFT, cx(30), cy(30));

    // Ctrl+Shift on a selected position clears its row again.
    click_position(25, KMOD_LCTRL | KMOD_LSHIFT);
    EXPECT_EQ(V(rows.begin() + 10, rows.end()), selected());

    // Upwards, each row is taken as the pointer enters it from the row below.
    press(SDL_BUTTON_LEFT, cx(50), cy(50), KMOD_LSHIFT);
    for (uint32_t p : {40, 30}) move_to_position(p, KMOD_LSHIFT);
    release(SDL_BUTTON_LEFT, cx(30), cy(30));
    for (uint32_t p = 40; p < 60; ++p) rows.push_back(p);
    EXPECT_EQ(V(rows.begin() + 10, rows.end()), selected()); // rows 3 to 5

    // The first row never includes position 0.
    click_position(5, KMOD_LSHIFT);
    EXPECT_EQ(V({1, 2, 3, 4, 5, 6, 7, 8, 9}), selected());
}

TEST_F(EditorInputTest, PressOnPositionZeroClearsAndStartsNoDrag) {
    select_positions({3, 7});
    press(SDL_BUTTON_LEFT, cx(0), cy(0));
    EXPECT_EQ(V(), selected());
    EXPECT_FALSE(ed.pointer.painting);
    move_to_position(5);
    move_to_position(6);
    release(SDL_BUTTON_LEFT, cx(6), cy(6));
    EXPECT_EQ(V(), selected());
    EXPECT_EQ(0u, arr().origin[0]);
}

// --- right button -----------------------------------------------------------------

TEST_F(EditorInputTest, RightClickSwapsWithTheOneSelectedTile) {
    select_positions({5});
    press(SDL_BUTTON_RIGHT, cx(9), cy(9));
    EXPECT_FALSE(ed.pointer.carrying); // a swap starts no carry
    release(SDL_BUTTON_RIGHT, cx(9), cy(9));
    EXPECT_EQ(V({0, 1, 2, 3, 4, 9, 6, 7, 8, 5}), origins(0, 9));
    EXPECT_EQ(9 * IMAGE_BYTES, arr().info.image_offset[5]);
    EXPECT_EQ(5 * IMAGE_BYTES, arr().info.image_offset[9]);
    EXPECT_EQ(V({5}), selected()); // the selection stays where it was

    // On the selected tile itself: no change, but a carry begins.
    press(SDL_BUTTON_RIGHT, cx(5), cy(5));
    EXPECT_TRUE(ed.pointer.carrying);
    release(SDL_BUTTON_RIGHT, cx(5), cy(5));
    EXPECT_FALSE(ed.pointer.carrying);
    EXPECT_EQ(9u, arr().origin[5]);

    // With two selected, or none, nothing moves.
    select_positions({5, 6});
    right_click(cx(20), cy(20));
    click_position(0);
    right_click(cx(21), cy(21));
    EXPECT_EQ(V({0, 1, 2, 3, 4, 9, 6, 7, 8, 5}), origins(0, 9));
    EXPECT_EQ(V({20, 21}), origins(20, 21));

    // Position 0 takes part in neither a swap nor a carry.
    select_positions({5});
    right_click(cx(0), cy(0));
    press(SDL_BUTTON_RIGHT, cx(0), cy(0), KMOD_LCTRL);
    move_to_position(1, KMOD_LCTRL);
    release(SDL_BUTTON_RIGHT, cx(1), cy(1), KMOD_LCTRL);
    EXPECT_EQ(V({0, 1, 2, 3, 4, 9}), origins(0, 5));
    EXPECT_EQ(V({5}), selected());
}

TEST_F(EditorInputTest, CtrlRightDragCarriesOneTileCellByCell) {
    select_positions({3});
    press(SDL_BUTTON_RIGHT, cx(12), cy(12), KMOD_LCTRL);
    EXPECT_EQ(V({12}), selected());
    for (uint32_t p : {13, 14, 15}) move_to_position(p, KMOD_LCTRL);
    EXPECT_EQ(V({13, 14, 15, 12}), origins(12, 15));
    EXPECT_EQ(V({15}), selected());
    release(SDL_BUTTON_RIGHT, cx(15), cy(15), KMOD_LCTRL);

    // Released: further Ctrl motion carries nothing.
    move_to_position(16, KMOD_LCTRL);
    EXPECT_EQ(V({13, 14, 15, 12, 16}), origins(12, 16));
}

TEST_F(EditorInputTest, CarryJumpSwapsOnlyItsEnds) {
    press(SDL_BUTTON_RIGHT, cx(12), cy(12), KMOD_LCTRL);
    move_to_position(15, KMOD_LCTRL);
    release(SDL_BUTTON_RIGHT, cx(15), cy(15), KMOD_LCTRL);
    EXPECT_EQ(V({15, 13, 14, 12}), origins(12, 15));
}

TEST_F(EditorInputTest, CarryPausesWhileCtrlIsUp) {
    press(SDL_BUTTON_RIGHT, cx(12), cy(12), KMOD_LCTRL);
    move_to_position(13, KMOD_LCTRL);
    move_to_position(14);
    move_to_position(15);
    EXPECT_EQ(V({13, 12, 14, 15, 16}), origins(12, 16));
    move_to_position(16, KMOD_RCTRL);
    release(SDL_BUTTON_RIGHT, cx(16), cy(16));
    EXPECT_EQ(V({13, 16, 14, 15, 12}), origins(12, 16));
    EXPECT_EQ(V({16}), selected());
}

TEST_F(EditorInputTest, ReleaseInHoldingViewEndsTheDrag) {
    press(SDL_BUTTON_LEFT, cx(14), cy(14));
    key(SDLK_TAB);
    move_to_position(15); // motion in the holding view paints nothing
    release(SDL_BUTTON_LEFT, cx(15), cy(15));
    key(SDLK_TAB);
    EXPECT_FALSE(ed.pointer.painting);
    move_to_position(16);
    EXPECT_EQ(V({14}), selected());

    press(SDL_BUTTON_RIGHT, cx(20), cy(20), KMOD_LCTRL);
    key(SDLK_2);
    release(SDL_BUTTON_RIGHT, cx(20), cy(20), KMOD_LCTRL);
    key(SDLK_1);
    EXPECT_FALSE(ed.pointer.carrying);
    move_to_position(21, KMOD_LCTRL);
    EXPECT_EQ(V({20, 21}), origins(20, 21));
}

} // namespace
