// Saving and opening from the editor: what the user is told and shown.
// What reaches the disk is the session's (tests/session).
#include "editor_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using V = std::vector<uint32_t>;

class EditorSaveTest : public EditorTest {
  protected:
    // Tile 14 and tile 40 trade places by cut, paste and fill.
    void exchange_14_and_40() {
        click_position(14);
        key(SDLK_x, KMOD_LCTRL);
        click_position(40);
        key(SDLK_v, KMOD_LCTRL);
        key(SDLK_f, KMOD_LCTRL);
        ASSERT_EQ(V({40, 14}), V({arr().origin[14], arr().origin[40]}));
    }
    std::string ctrl_s() {
        return printed_by([&] { key(SDLK_s, KMOD_LCTRL); });
    }
};

TEST_F(EditorSaveTest, SaveWithTilesHeldShowsThemInstead) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    const std::vector<uint8_t> before = read_bytes(path);
    click_position(14);
    key(SDLK_x, KMOD_LCTRL);
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    EXPECT_EQ("place the held tiles before saving", ed.view.message);
    EXPECT_EQ(before, read_bytes(path));
    EXPECT_FALSE(file_exists(path + ".swaps"));
    EXPECT_EQ(1u, arr().holding_count);

    // Put back, the same keys save; the next press clears what it said.
    key(SDLK_DELETE);
    EXPECT_EQ("", ed.view.message);
    key(SDLK_1);
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_EQ("saved", ed.view.message);
    EXPECT_TRUE(file_exists(path + ".swaps"));
    EXPECT_EQ("", read_text(path + ".swaps"));
    press(SDL_BUTTON_WHEELDOWN, 5, 5);
    EXPECT_EQ("", ed.view.message);
}

TEST_F(EditorSaveTest, CaptionTellsNameUnsavedViewAndHeldTiles) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    EXPECT_EQ("Kelbo Tool - tiles.kts", caption()); // before the first frame
    key(SDLK_TAB);
    EXPECT_EQ("Kelbo Tool - tiles.kts - holding view", caption());
    key(SDLK_TAB);
    click_position(14, KMOD_LSHIFT);
    key(SDLK_x, KMOD_LCTRL); // a cut leaves the tables as they are
    EXPECT_EQ("Kelbo Tool - tiles.kts - 10 held - at 14: empty", caption());
    click_position(40);
    key(SDLK_v, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - 10 held - 1 selected - at 40: tile 10",
              caption());
    key(SDLK_2);
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - holding view - 10 held", caption());
    key(SDLK_DELETE);
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - holding view", caption());
    // Undone back to the tables as loaded, nothing is unsaved.
    key(SDLK_z, KMOD_LCTRL);
    key(SDLK_z, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts - holding view - 10 held", caption());
    key(SDLK_1);
    key(SDLK_z, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts - 10 selected - at 40: tile 40", caption());

    click_position(30);
    right_click(cx(31), cy(31));
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - 1 selected - at 31: tile 30", caption());
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts - 1 selected - saved - at 31: tile 30", caption());
    EXPECT_EQ(caption(), ed.view.caption);
}

TEST_F(EditorSaveTest, UndoGoesPastASave) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    key(SDLK_s, KMOD_LCTRL);
    const std::vector<uint8_t> saved = read_bytes(path);

    key(SDLK_z, KMOD_LCTRL); // the fill
    key(SDLK_z, KMOD_LCTRL); // the paste
    EXPECT_EQ(40u, arr().origin[40]);
    EXPECT_EQ(0u, arr().origin[14]);
    EXPECT_EQ(V({14}), held_origins());
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - 1 held - 1 selected - at 40: tile 40", caption());
    EXPECT_EQ(saved, read_bytes(path)); // undo touches only the editor
    key(SDLK_y, KMOD_LCTRL);
    key(SDLK_y, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts - 1 selected - at 40: tile 14", caption());

    // Undone to the tables as loaded and saved again: an empty swap list.
    for (int i = 0; i < 3; ++i) key(SDLK_z, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - 1 selected - at 40: tile 40", caption());
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_EQ("", read_text(path + ".swaps"));
    EXPECT_EQ(streams.info, unpacked_stream(read_bytes(path), STREAM_INFO));
    EXPECT_EQ("Kelbo Tool - tiles.kts - 1 selected - saved - at 40: tile 40", caption());
}

// What came of a save that did not happen, as printed and in the caption;
// what reached the disk is the session's.
TEST_F(EditorSaveTest, SaveThatDidNotHappenSaysWhy) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    ASSERT_TRUE(write_text(dir.file("theirs.txt"), "5 7\n"));
    run_process({KELBO_TOOL_PATH, path, dir.file("theirs.txt")});
    EXPECT_EQ("Tileset file has changed since it was opened: " + path + "\n", ctrl_s());
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - 1 selected - not saved: the file changed on "
              "disk; Ctrl+S again to overwrite - at 40: tile 14",
              caption());

    struct rlimit saved; // under a file size limit smaller than the tileset
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    const struct rlimit small = {1000, saved.rlim_max};
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const std::string out = ctrl_s();
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
    EXPECT_EQ("Failed to save file: " + path + " (File too large)\n", out);
    EXPECT_EQ("not saved: File too large", ed.view.message);

    int held = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    ctrl_s();
    close(held);
    EXPECT_EQ("not saved: the file is locked by another program", ed.view.message);

    ASSERT_EQ(0, mkdir((path + ".swaps").c_str(), 0755));
    EXPECT_EQ(0u, ctrl_s().find("Failed to write swap list: " + path + ".swaps ("));
    EXPECT_EQ(0u, ed.view.message.find("saved, but the swap list was not: ")) << ed.view.message;
}

// Work rescued from a file that has changed since is named, not taken
// back; its path may hold any byte, so the caption escapes it.
TEST_F(EditorSaveTest, RescueOfAChangedFileIsNamedInTheCaption) {
    ASSERT_EQ(0, setenv("XDG_STATE_HOME", dir.file("state\n").c_str(), 1));
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    printed_by([&] { session_rescue(ed.session); });
    editor_close(ed);
    ASSERT_TRUE(write_text(dir.file("theirs.txt"), "5 7\n"));
    run_process({KELBO_TOOL_PATH, path, dir.file("theirs.txt")});
    ed = Editor();
    printed_by([&] { ASSERT_TRUE(editor_open(ed, path.c_str())); });
    const std::string shown = caption();
    const std::string named = "Kelbo Tool - tiles.kts - earlier unsaved work kept in " +
                              dir.file("state\\x0a/kelbo-tool/tiles.kts.kelbo-rescue-");
    EXPECT_EQ(0u, shown.find(named)) << shown;
    EXPECT_EQ(shown.size() - 25, shown.find(" (the file changed since)")) << shown;
    EXPECT_FALSE(history_unsaved(arr()));
}

TEST_F(EditorSaveTest, MissingTilesetFailsToOpen) {
    const std::string missing = dir.file("absent.kts");
    bool opened = true;
    std::string out = printed_by([&] { opened = editor_open(ed, missing.c_str()); });
    EXPECT_FALSE(opened);
    EXPECT_EQ("Failed to load file: " + missing +
                  " (No such file or directory)\nFailed to load tileset!\n",
              out);
    EXPECT_EQ(nullptr, ed.surfaces.screen);
    editor_close(ed);
}

} // namespace
