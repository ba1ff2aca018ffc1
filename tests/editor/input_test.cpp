// The tileset view's mouse bindings, the command keys, the holding view and
// scrolling, driven through editor_handle_event as the loop would.
#include "editor_support.h"

#include <algorithm>
#include <csignal>

namespace {

using V = std::vector<uint32_t>;

class EditorInputTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(open_streams());
    }
    void select_positions(const V& positions) {
        for (size_t i = 0; i < positions.size(); ++i)
            click_position(positions[i], i == 0 ? KMOD_NONE : KMOD_LCTRL);
        ASSERT_EQ(positions, selected());
    }
};

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

// --- keys ---------------------------------------------------------------------------

TEST_F(EditorInputTest, CommandLettersNeedCtrlAndIgnoreShift) {
    select_positions({14});
    for (SDLKey k : {SDLK_x, SDLK_v, SDLK_w, SDLK_f, SDLK_r, SDLK_s}) {
        key(k);
        key(k, KMOD_LSHIFT);
    }
    EXPECT_EQ(0u, arr().holding_count);
    EXPECT_EQ(14u, arr().origin[14]);
    EXPECT_FALSE(file_exists(path + ".swaps"));

    key(SDLK_x, KMOD_LCTRL | KMOD_LSHIFT);
    EXPECT_EQ(V({14}), held_origins());
    EXPECT_EQ(0u, arr().origin[14]);
    EXPECT_EQ(V(), selected());

    click_position(40);
    key(SDLK_v, KMOD_RCTRL);
    EXPECT_EQ(14u, arr().origin[40]);
    EXPECT_EQ(V({40}), held_origins());
    key(SDLK_f, KMOD_LCTRL | KMOD_RSHIFT);
    EXPECT_EQ(40u, arr().origin[14]);
    EXPECT_EQ(0u, arr().holding_count);
}

TEST_F(EditorInputTest, PasteFromEndTakesTheLastHeldTile) {
    select_positions({4, 5, 6});
    key(SDLK_x, KMOD_LCTRL);
    ASSERT_EQ(V({4, 5, 6}), held_origins());
    click_position(20);
    key(SDLK_w, KMOD_LCTRL);
    EXPECT_EQ(6u, arr().origin[20]);
    click_position(21);
    key(SDLK_v, KMOD_LCTRL);
    EXPECT_EQ(4u, arr().origin[21]);
    EXPECT_EQ(3u, arr().holding_count);
}

TEST_F(EditorInputTest, SortPutsTheSelectedTilesBackInOrder) {
    press(SDL_BUTTON_RIGHT, cx(3), cy(3), KMOD_LCTRL);
    for (uint32_t p : {4, 5, 6, 7}) move_to_position(p, KMOD_LCTRL);
    release(SDL_BUTTON_RIGHT, cx(7), cy(7));
    ASSERT_EQ(V({4, 5, 6, 7, 3}), origins(3, 7));
    click_position(1, KMOD_LSHIFT);
    key(SDLK_r, KMOD_LCTRL);
    EXPECT_EQ(V({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), origins(0, 9));
    EXPECT_EQ(3 * IMAGE_BYTES, arr().info.image_offset[3]);
}

TEST_F(EditorInputTest, ViewKeysWorkWithAnyModifiers) {
    key(SDLK_TAB);
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    key(SDLK_TAB);
    EXPECT_EQ(MODE_TILESET, ed.view.mode);
    key(SDLK_TAB, KMOD_LCTRL);
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    key(SDLK_TAB, KMOD_LSHIFT | KMOD_LALT);
    EXPECT_EQ(MODE_TILESET, ed.view.mode);

    key(SDLK_2, KMOD_LCTRL);
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    key(SDLK_2);
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    key(SDLK_KP1);
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    key(SDLK_1, KMOD_RSHIFT);
    EXPECT_EQ(MODE_TILESET, ed.view.mode);
    key(SDLK_1);
    EXPECT_EQ(MODE_TILESET, ed.view.mode);
    EXPECT_TRUE(ed.view.running);

    key(SDLK_ESCAPE, KMOD_LCTRL);
    EXPECT_FALSE(ed.view.running);
}

// With unsaved tables or held tiles Escape or a window close only asks; a
// second one quits, any other press takes the question back.
TEST_F(EditorInputTest, QuitWithUnsavedWorkAsksOnce) {
    const std::string asked = "unsaved changes: Escape again to quit";
    click_position(5);
    right_click(cx(7), cy(7));
    key(SDLK_ESCAPE);
    EXPECT_TRUE(ed.view.running);
    EXPECT_EQ(asked, ed.view.message);
    key(SDLK_LSHIFT); // a modifier alone is no answer
    EXPECT_EQ(asked, ed.view.message);
    click_position(9);
    EXPECT_EQ("", ed.view.message);
    key(SDLK_g, KMOD_LCTRL);
    quit_event();
    key(SDLK_ESCAPE); // it closes the go-to prompt and takes the question back
    EXPECT_FALSE(ed.view.quit_pending);
    quit_event();
    EXPECT_TRUE(ed.view.running);
    key(SDLK_ESCAPE);
    EXPECT_FALSE(ed.view.running);

    ed.view.running = true;
    key(SDLK_z, KMOD_LCTRL); // back to the tables as loaded
    click_position(30);
    key(SDLK_x, KMOD_LCTRL);
    quit_event();
    EXPECT_EQ(asked, ed.view.message);
    quit_event();
    EXPECT_FALSE(ed.view.running);
}

TEST_F(EditorInputTest, LoopEndsWhenWaitingKeepsFailingOrOnASignal) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO); // takes the event queue with it
    std::string out = printed_by([&] { editor_run(ed); });
    EXPECT_EQ(WAIT_FAILURE_LIMIT, std::count(out.begin(), out.end(), '\n')) << out;
    EXPECT_EQ(0u, out.find("Error while waiting for event: "));
    EXPECT_FALSE(ed.view.running);

#ifndef _WIN32 // where signals end the editor
    // A signal is only noted; the loop ends on it, keeping the unsaved work.
    history_begin_edit(arr());
    swap_positions(arr(), 5, 7);
    history_end_edit(arr(), false);
    ed.view.running = true;
    raise(SIGTERM);
    out = printed_by([&] { EXPECT_EQ(1, editor_run(ed)); });
    EXPECT_EQ(0u, out.find("The new content is kept in: " + dir.file("state/kelbo-tool/tiles.kts") +
                           ".kelbo-rescue-"))
        << out;
#endif
}

TEST_F(EditorInputTest, HoldingViewPlacesAndFillsOnly) {
    select_positions({5, 6, 7});
    key(SDLK_x, KMOD_LCTRL);
    click_position(9); // a selection the tileset view's commands would use
    key(SDLK_TAB);

    // Everything but a left click on a held tile, and Delete, is ignored.
    press(SDL_BUTTON_RIGHT, 16, 16);
    release(SDL_BUTTON_RIGHT, 16, 16);
    click(3 * CELL_SIZE + 16, 16); // past the held tiles
    click(16, CELL_SIZE + 16);
    for (SDLKey k : {SDLK_f, SDLK_v, SDLK_x, SDLK_r, SDLK_s}) key(k, KMOD_LCTRL);
    key(SDLK_PAGEDOWN);
    press(SDL_BUTTON_WHEELDOWN, 16, 16);
    release(SDL_BUTTON_WHEELDOWN, 16, 16);
    EXPECT_EQ(0u, ed.view.scroll);
    EXPECT_EQ(V({5, 6, 7}), held_origins());
    EXPECT_EQ(V({0, 0, 0}), origins(5, 7));
    EXPECT_EQ(9u, arr().origin[9]);
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    EXPECT_FALSE(file_exists(path + ".swaps"));

    // The middle one goes to the first empty position; the rest close up.
    click(CELL_SIZE + 16, 16);
    EXPECT_EQ(V({6, 0, 0}), origins(5, 7));
    EXPECT_EQ(V({5, 7}), held_origins());

    key(SDLK_DELETE);
    EXPECT_EQ(V({6, 5, 7}), origins(5, 7));
    EXPECT_EQ(0u, arr().holding_count);
}

// --- undo and redo -------------------------------------------------------------------

// Everything undo and redo put back.
struct Snapshot {
    std::vector<uint8_t> tables;
    V origin, held;
    std::vector<uint8_t> selected;
    uint32_t selected_count;
    bool operator==(const Snapshot& o) const {
        return tables == o.tables && origin == o.origin && held == o.held &&
               selected == o.selected && selected_count == o.selected_count;
    }
};

class EditorUndoTest : public EditorInputTest {
  protected:
    Snapshot snapshot() {
        const uint8_t* info = ed.session.tileset.streams[STREAM_INFO].unpacked;
        V held;
        for (uint32_t k = 0; k < arr().holding_count; ++k) {
            const TileRecord& r = arr().holding.records[k];
            held.insert(held.end(), {r.attr_a, r.attr_b, r.image_offset, r.word1, r.word2, r.word3,
                                     r.word4, r.word5, r.origin});
        }
        return {std::vector<uint8_t>(info, info + fixed_info_size(ed.session.tileset.version)),
                arr().origin, held, arr().selected, arr().selected_count};
    }
    void undo(int mod = KMOD_LCTRL) { key(SDLK_z, mod); }
    void redo(int mod = KMOD_LCTRL) { key(SDLK_y, mod); }
};

TEST_F(EditorUndoTest, EveryKindOfEditUndoesAndRedoesInBothViews) {
    std::vector<Snapshot> before, after;
    auto edit = [&](auto&& act) {
        before.push_back(snapshot());
        act();
        after.push_back(snapshot());
        ASSERT_FALSE(before.back() == after.back())
            << "edit " << before.size() << " changed nothing";
    };
    select_positions({5});
    edit([&] { right_click(cx(9), cy(9)); });
    click_position(23, KMOD_LSHIFT);
    edit([&] { key(SDLK_x, KMOD_LCTRL); });
    select_positions({40, 41});
    edit([&] { key(SDLK_v, KMOD_LCTRL); });
    click_position(50);
    edit([&] { key(SDLK_w, KMOD_LCTRL); });
    edit([&] { key(SDLK_f, KMOD_LCTRL); });
    click_position(5, KMOD_LSHIFT);
    edit([&] { key(SDLK_r, KMOD_LCTRL); });
    select_positions({14, 15, 16});
    edit([&] { key(SDLK_x, KMOD_LCTRL); });
    click_position(77); // no edit; undoing the cut brings back its selection
    key(SDLK_TAB);
    edit([&] { click(CELL_SIZE + 16, 16); });
    edit([&] { key(SDLK_DELETE); });

    // Back through the holding view's own edits there, the rest in the
    // tileset view; neither the view nor the scroll moves.
    for (size_t i = before.size(); i-- > 0;) {
        if (i == 6) key(SDLK_TAB);
        undo();
        ASSERT_TRUE(snapshot() == before[i]) << "undo of edit " << i + 1;
    }
    EXPECT_EQ(MODE_TILESET, ed.view.mode);
    undo();
    EXPECT_TRUE(snapshot() == before[0]);

    for (size_t i = 0; i < after.size(); ++i) {
        if (i == 6) key(SDLK_2);
        i % 2 ? redo(KMOD_LCTRL | KMOD_LSHIFT) : key(SDLK_z, KMOD_RCTRL | KMOD_LSHIFT);
        ASSERT_TRUE(snapshot() == after[i]) << "redo of edit " << i + 1;
    }
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    redo();
    EXPECT_TRUE(snapshot() == after.back());
    EXPECT_EQ(0u, ed.view.scroll);
}

TEST_F(EditorUndoTest, CarryIsOneEditAndDragsHoldTheKeys) {
    press(SDL_BUTTON_RIGHT, cx(12), cy(12), KMOD_LCTRL);
    for (uint32_t p : {13, 14, 15}) move_to_position(p, KMOD_LCTRL);
    undo();
    redo();
    EXPECT_EQ(V({13, 14, 15, 12}), origins(12, 15)); // not while carrying
    release(SDL_BUTTON_RIGHT, cx(15), cy(15));

    undo();
    EXPECT_EQ(V({12, 13, 14, 15}), origins(12, 15));
    EXPECT_EQ(V({12}), selected()); // as the Ctrl+right press left it
    press(SDL_BUTTON_LEFT, cx(40), cy(40));
    redo();
    EXPECT_EQ(V({12, 13, 14, 15}), origins(12, 15)); // not while painting
    release(SDL_BUTTON_LEFT, cx(40), cy(40));
    redo();
    EXPECT_EQ(V({13, 14, 15, 12}), origins(12, 15));
    EXPECT_EQ(V({15}), selected());
}

TEST_F(EditorUndoTest, ShiftRightClickMovesTheBlockAsOneEdit) {
    select_positions({57});
    const Snapshot start = snapshot();
    right_click(cx(3), cy(3), KMOD_LSHIFT);
    EXPECT_FALSE(ed.pointer.carrying);
    EXPECT_EQ(V({0, 1, 2, 57, 3, 4}), origins(0, 5));
    EXPECT_EQ(V({56, 58}), origins(57, 58));
    EXPECT_EQ(V({3}), selected());
    const Snapshot moved = snapshot();
    key(SDLK_a, KMOD_LCTRL); // every position but 0, and no edit
    EXPECT_EQ(arr().tile_count - 1, arr().selected_count);
    EXPECT_FALSE(arr().selected[0]);
    undo();
    EXPECT_TRUE(snapshot() == start);
    redo();
    EXPECT_TRUE(snapshot() == moved);
    right_click(cx(9), cy(9), KMOD_LCTRL | KMOD_LSHIFT); // with Ctrl still a carry
    EXPECT_EQ(V({9}), selected());
}

TEST_F(EditorUndoTest, UndoAndRedoShowWhatTheyChanged) {
    select_positions({5});
    key(SDLK_END);
    right_click(cx(295), cy(295)); // rows 0 and 29
    undo();
    EXPECT_EQ(14u, ed.view.scroll);           // 295 is in view
    for (int i = 0; i < 9; ++i) key(SDLK_UP); // rows 5 to 20
    redo();
    EXPECT_EQ(0u, ed.view.scroll);
}

TEST_F(EditorUndoTest, NewEditDropsWhatCouldBeRedone) {
    select_positions({5});
    undo(); // selecting made no edit
    EXPECT_EQ(V({5}), selected());
    right_click(cx(9), cy(9));
    undo();
    right_click(cx(8), cy(8));
    redo();
    EXPECT_EQ(V({0, 1, 2, 3, 4, 8, 6, 7, 5, 9}), origins(0, 9));
    undo();
    EXPECT_EQ(V({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), origins(0, 9));
    undo();
    EXPECT_EQ(V({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), origins(0, 9));
}

// --- scrolling and the grid's extent ----------------------------------------------------

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
