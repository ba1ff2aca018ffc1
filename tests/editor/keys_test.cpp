// The command and view keys, quitting, and the holding view, driven through
// editor_handle_event as the loop would.
#include "editor_support.h"

#include <algorithm>
#include <csignal>

namespace {

using V = std::vector<uint32_t>;

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

} // namespace
