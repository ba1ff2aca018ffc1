// Opening and saving from the editor: what reaches the disk, and what the
// user sees when the file cannot be read or written.
#include "editor_support.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
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
        ASSERT_EQ(0u, arr().origin[14]);
        ASSERT_EQ(1u, arr().holding_count);
        click_position(40);
        key(SDLK_v, KMOD_LCTRL);
        ASSERT_EQ(14u, arr().origin[40]);
        ASSERT_EQ(40u, arr().holding.records[0].origin);
        key(SDLK_f, KMOD_LCTRL);
        ASSERT_EQ(40u, arr().origin[14]);
        ASSERT_EQ(0u, arr().holding_count);
    }
};

TEST_F(EditorSaveTest, SaveWritesTheMovedTablesAndTheSwapList) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    const std::vector<uint8_t> before = read_bytes(path);
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());

    EXPECT_EQ("", printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    EXPECT_TRUE(ed.view.running);
    EXPECT_EQ(MODE_TILESET, ed.view.mode);

    EXPECT_EQ("40 14\n14 40\n", read_text(path + ".swaps"));
    std::vector<uint8_t> after = read_bytes(path);
    EXPECT_NE(before, after);
    EXPECT_EQ(after.size(), read_u32_le(after, 222)); // the header's file size
    EXPECT_EQ(streams.info.size(), unpacked_size(after, STREAM_INFO));
    EXPECT_EQ(with_tiles_exchanged(streams.info, 1024, 14, 40),
              unpacked_stream(after, STREAM_INFO));
    EXPECT_EQ(40 * IMAGE_BYTES,
              read_u32_le(unpacked_stream(after, STREAM_INFO), image_offset_at(1024, 14)));
    // Everything after the info stream is carried through unchanged.
    size_t rest_before = HEADER_SIZE + read_u32_le(before, 230);
    size_t rest_after = HEADER_SIZE + read_u32_le(after, 230);
    EXPECT_TRUE(std::equal(before.begin() + long(rest_before), before.end(),
                           after.begin() + long(rest_after), after.end()));

    // The saved file opens again with the tiles where they were left.
    editor_close(ed);
    ASSERT_TRUE(editor_open(ed, path.c_str()));
    move(SCREEN_WIDTH - 1, SCREEN_HEIGHT - 1); // the first frame comes with the first event
    EXPECT_TRUE(same_cell(expected_tile(40), screen_cell(4, 1)));
    EXPECT_TRUE(same_cell(expected_tile(14), screen_cell(0, 4)));
}

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

// A signal ends the editor, which first keeps its unsaved work: the tiles
// as Ctrl+F and Ctrl+S would save them, in a copy the next load points to.
TEST_F(EditorSaveTest, SignalKeepsUnsavedWorkInARecoveryCopy) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    const std::vector<uint8_t> before = read_bytes(path);
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    click_position(20);
    key(SDLK_x, KMOD_LCTRL); // held, but put back in the copy
    raise(SIGTERM);          // only noted; the loop acts on it
    int status = -1;
    std::string out = printed_by([&] { status = editor_run(ed); });
    EXPECT_EQ(1, status);
    ASSERT_EQ(0u, out.find("The new content is kept in: " + path + ".kelbo-recovery-")) << out;
    const std::string copy = out.substr(28, out.size() - 29);
    EXPECT_EQ(before, read_bytes(path));
    EXPECT_EQ("40 14\n14 40\n", read_text(copy + ".swaps"));
    EXPECT_EQ(with_tiles_exchanged(streams.info, 1024, 14, 40),
              unpacked_stream(read_bytes(copy), STREAM_INFO));
    struct stat st;
    ASSERT_EQ(0, stat(copy.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);

    editor_close(ed);
    EXPECT_EQ("A recovery copy of this tileset exists: " + copy + "\nFailed to load tileset!\n",
              printed_by([&] { EXPECT_FALSE(editor_open(ed, path.c_str())); }));
    editor_close(ed);

    // A second editor of the file ended with the first (a logout) keeps its
    // work under the next name, which the load points to in turn.
    const std::string aside = copy + ".aside";
    ASSERT_EQ(0, rename(copy.c_str(), aside.c_str()));
    ASSERT_TRUE(editor_open(ed, path.c_str()));
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    ASSERT_EQ(0, rename(aside.c_str(), copy.c_str()));
    raise(SIGTERM);
    out = printed_by([&] { status = editor_run(ed); });
    editor_close(ed);
    const std::string second = out.substr(28, out.size() - 29);
    EXPECT_EQ(path + ".2" + copy.substr(path.size()), second) << out;
    EXPECT_EQ(read_bytes(copy), read_bytes(second));
    ASSERT_EQ(0, unlink(copy.c_str()));
    EXPECT_EQ("A recovery copy of this tileset exists: " + second + "\nFailed to load tileset!\n",
              printed_by([&] { EXPECT_FALSE(editor_open(ed, path.c_str())); }));
}

// What the window's caption says, as last set.
std::string caption() {
    char* title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    return title ? title : "";
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
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - 10 held - at 40: tile 10", caption());
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
    EXPECT_EQ("Kelbo Tool - tiles.kts - at 40: tile 40", caption());

    click_position(30);
    right_click(cx(31), cy(31));
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - at 31: tile 30", caption());
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts - saved - at 31: tile 30", caption());
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
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - 1 held - at 40: tile 40", caption());
    EXPECT_EQ(saved, read_bytes(path)); // undo touches only the editor
    key(SDLK_y, KMOD_LCTRL);
    key(SDLK_y, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts - at 40: tile 14", caption());

    // Undone to the tables as loaded and saved again: an empty swap list.
    for (int i = 0; i < 3; ++i) key(SDLK_z, KMOD_LCTRL);
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - at 40: tile 40", caption());
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_EQ("", read_text(path + ".swaps"));
    EXPECT_EQ(streams.info, unpacked_stream(read_bytes(path), STREAM_INFO));
    EXPECT_EQ("Kelbo Tool - tiles.kts - saved - at 40: tile 40", caption());
}

TEST_F(EditorSaveTest, FileChangedByAnotherProgramIsOverwrittenOnlyWhenAskedTwice) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    const std::string list = dir.file("theirs.txt");
    ASSERT_TRUE(write_text(list, "5 7\n"));
    run_batch(path.c_str(), list.c_str());
    const std::vector<uint8_t> theirs = read_bytes(path);

    EXPECT_EQ("Tileset file has changed since it was opened: " + path + "\n",
              printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    EXPECT_EQ(theirs, read_bytes(path));
    EXPECT_FALSE(file_exists(path + ".swaps"));
    EXPECT_EQ("Kelbo Tool - tiles.kts (unsaved) - not saved: the file changed on disk; Ctrl+S "
              "again to overwrite - at 40: tile 14",
              caption());

    EXPECT_EQ("", printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    EXPECT_EQ("40 14\n14 40\n", read_text(path + ".swaps"));
    EXPECT_EQ(with_tiles_exchanged(streams.info, 1024, 14, 40),
              unpacked_stream(read_bytes(path), STREAM_INFO));
    EXPECT_EQ("", printed_by([&] { key(SDLK_s, KMOD_LCTRL); })); // its own save is no stranger's
}

// A path that now leads through another folder is taken afresh, and the
// swap list goes beside the tileset there.
TEST_F(EditorSaveTest, PathTakenAfreshTakesTheSwapListAlong) {
    const std::string a = dir.file("a"), b = dir.file("b"), via = dir.file("via");
    ASSERT_EQ(0, mkdir(a.c_str(), 0700));
    ASSERT_EQ(0, mkdir(b.c_str(), 0700));
    ASSERT_EQ(0, symlink("a", via.c_str()));
    path = via + "/tiles.kts";
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    ASSERT_EQ(0, rename((a + "/tiles.kts").c_str(), (b + "/tiles.kts").c_str()));
    ASSERT_EQ(0, unlink(via.c_str()));
    ASSERT_EQ(0, symlink("b", via.c_str()));

    EXPECT_EQ("", printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    EXPECT_EQ("40 14\n14 40\n", read_text(b + "/tiles.kts.swaps"));
    EXPECT_FALSE(file_exists(a + "/tiles.kts.swaps"));
}

TEST_F(EditorSaveTest, LockHeldElsewhereFreezesTheSaveForTwoSecondsAndNamesItsHolder) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    const std::vector<uint8_t> before = read_bytes(path);
    int held = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    const time_t start = time(nullptr);
    std::string out = printed_by([&] { key(SDLK_s, KMOD_LCTRL); });
    const time_t waited = time(nullptr) - start;
    close(held);
    EXPECT_EQ("Tileset file is locked by another program: " + path + " (process " +
                  std::to_string(getpid()) + ")\n",
              out);
    EXPECT_GE(waited, 1);
    EXPECT_LE(waited, 4);
    EXPECT_EQ("not saved: the file is locked by another program", ed.view.message);
    EXPECT_EQ(before, read_bytes(path));
    EXPECT_FALSE(file_exists(path + ".swaps"));
}

TEST_F(EditorSaveTest, AnotherUsersLinkInAStickyFolderIsNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a second user's link";
    // A folder anyone may write, and a file only root may.
    const std::string shared = dir.file("shared"), secret = dir.file("secret");
    ASSERT_EQ(0, mkdir(shared.c_str(), 01777));
    ASSERT_EQ(0, chmod(shared.c_str(), 01777));
    ASSERT_TRUE(write_text(secret, "root's own\n"));
    ASSERT_EQ(0, chmod(secret.c_str(), 0600));
    auto plant = [&](const std::string& link) {
        ASSERT_EQ(0, symlink(secret.c_str(), link.c_str()));
        ASSERT_EQ(0, lchown(link.c_str(), 65534, 65534));
    };
    path = shared + "/tiles.kts";
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    ASSERT_NO_FATAL_FAILURE(plant(path + ".swaps"));

    EXPECT_EQ("Failed to write swap list: " + path + ".swaps (Permission denied)\n",
              printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    EXPECT_EQ("root's own\n", read_text(secret));
    EXPECT_EQ(with_tiles_exchanged(streams.info, 1024, 14, 40),
              unpacked_stream(read_bytes(path), STREAM_INFO));

    // The same link as the tileset is not opened either.
    editor_close(ed);
    const std::string link = shared + "/linked.kts";
    ASSERT_NO_FATAL_FAILURE(plant(link));
    bool opened = true;
    EXPECT_EQ("Failed to load file: " + link + " (Permission denied)\nFailed to load tileset!\n",
              printed_by([&] { opened = editor_open(ed, link.c_str()); }));
    EXPECT_FALSE(opened);
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
    editor_close(ed);

    out = printed_by([&] { opened = editor_open(ed, dir.path.c_str()); });
    EXPECT_FALSE(opened);
    EXPECT_EQ("Failed to load file: " + dir.path +
                  " (not a regular file)\nFailed to load tileset!\n",
              out);
}

TEST_F(EditorSaveTest, FailedWriteKeepsTheEditorAndItsEdits) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    const std::vector<uint8_t> before = read_bytes(path);
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());

    // Under a file size limit smaller than the tileset it cannot be written.
    struct rlimit saved, small;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    std::string out = printed_by([&] { key(SDLK_s, KMOD_LCTRL); });
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
    EXPECT_EQ("Failed to save file: " + path + " (File too large)\n", out);
    EXPECT_EQ("not saved: File too large", ed.view.message);
    EXPECT_TRUE(ed.view.running);
    EXPECT_EQ(before, read_bytes(path));
    EXPECT_FALSE(file_exists(path + ".swaps"));
    EXPECT_EQ(14u, arr().origin[40]);
    EXPECT_EQ(40u, arr().origin[14]);
    EXPECT_NE(std::string::npos, ed.view.caption.find(" (unsaved)"));

    // Once the limit is lifted, saving again works.
    EXPECT_EQ("", printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    EXPECT_EQ("saved", ed.view.message);
    EXPECT_EQ("40 14\n14 40\n", read_text(path + ".swaps"));
    const std::vector<uint8_t> after = read_bytes(path);
    EXPECT_EQ(streams.info.size(), unpacked_size(after, STREAM_INFO));
    EXPECT_EQ(with_tiles_exchanged(streams.info, 1024, 14, 40),
              unpacked_stream(after, STREAM_INFO));
    EXPECT_EQ("Kelbo Tool - tiles.kts - saved - at 40: tile 14", ed.view.caption);
}

TEST_F(EditorSaveTest, SwapListThatCannotBeWrittenIsToldApartFromTheSave) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    ASSERT_EQ(0, mkdir((path + ".swaps").c_str(), 0755));
    std::string out = printed_by([&] { key(SDLK_s, KMOD_LCTRL); });
    EXPECT_EQ(0u, out.find("Failed to write swap list: " + path + ".swaps (")) << out;
    EXPECT_EQ(0u, ed.view.message.find("saved, but the swap list was not: ")) << ed.view.message;
    EXPECT_EQ(with_tiles_exchanged(streams.info, 1024, 14, 40),
              unpacked_stream(read_bytes(path), STREAM_INFO));
}

// Each session's list stays beside the next, and the chain joins into one
// list from the original.
TEST_F(EditorSaveTest, AListFromAnotherSessionIsKeptNumberedBeforeItIsReplaced) {
    ASSERT_NO_FATAL_FAILURE(open_streams());
    const std::vector<uint8_t> original = read_bytes(path);
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    key(SDLK_s, KMOD_LCTRL);
    click_position(5);
    right_click(cx(6), cy(6));
    key(SDLK_s, KMOD_LCTRL); // its own list: replaced, not kept
    const std::string first = read_text(path + ".swaps");
    ASSERT_EQ(0, chmod((path + ".swaps").c_str(), 0640));
    EXPECT_EQ((std::vector<std::string>{"tiles.kts", "tiles.kts.swaps"}), folder_entries(dir.path));

    editor_close(ed);
    ASSERT_TRUE(editor_open(ed, path.c_str()));
    click_position(14);
    right_click(cx(15), cy(15));
    EXPECT_EQ("", printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    EXPECT_EQ(first, read_text(path + ".swaps.~1~"));
    EXPECT_EQ("15 14\n14 15\n", read_text(path + ".swaps"));
    struct stat st;
    ASSERT_EQ(0, stat((path + ".swaps.~1~").c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);

    const std::string joined = dir.file("joined.swaps"), replay = dir.file("replay.kts");
    ProcessResult r =
        run_process({KELBO_TOOL_PATH, "--compose", path, path + ".swaps.~1~", path + ".swaps"});
    ASSERT_TRUE(write_text(joined, r.out));
    ASSERT_TRUE(write_bytes(replay, original));
    EXPECT_EQ(0, run_process({KELBO_TOOL_PATH, replay, joined}).status);
    EXPECT_TRUE(read_bytes(replay) == read_bytes(path));
}

TEST_F(EditorSaveTest, AListThatCannotBeKeptIsNotReplaced) {
    const std::string list = path + ".swaps";
    // Numbers go on from the highest there.
    ASSERT_TRUE(write_text(list + ".~1~", "1 2\n2 1\n"));
    ASSERT_TRUE(write_text(list + ".~3~", "1 2\n2 1\n"));
    ASSERT_TRUE(write_text(list, "3 4\n4 3\n"));
    ASSERT_EQ(0, truncate(list.c_str(), off_t(65) << 20)); // too large to be a list
    ASSERT_NO_FATAL_FAILURE(open_streams());
    ASSERT_NO_FATAL_FAILURE(exchange_14_and_40());
    EXPECT_EQ("Failed to write swap list: " + list + " (File too large, keeping the old list as " +
                  list + ".~4~)\n",
              printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    struct stat st;
    ASSERT_EQ(0, stat(list.c_str(), &st));
    EXPECT_EQ(off_t(65) << 20, st.st_size);
    EXPECT_EQ(4u, folder_entries(dir.path).size());

    ASSERT_EQ(0, truncate(list.c_str(), 8));
    EXPECT_EQ("", printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    EXPECT_EQ("3 4\n4 3\n", read_text(list + ".~4~"));
    EXPECT_EQ("40 14\n14 40\n", read_text(list));
}

} // namespace

namespace {

// Twenty tiles from the start to the end of a 4096-tile file: a selection
// and one click, and the saved list replays the original to the saved file.
TEST_F(EditorSaveTest, BlockMovedToTheEndSavesAListThatReplaysToTheSameFile) {
    streams = make_sample_streams(true);
    ASSERT_NO_FATAL_FAILURE(open_streams());
    const std::vector<uint8_t> original = read_bytes(path);
    click_position(5, KMOD_LSHIFT);               // 1 .. 9
    click_position(15, KMOD_LCTRL | KMOD_LSHIFT); // 10 .. 19
    click_position(20, KMOD_LCTRL);
    key(SDLK_END);
    right_click(cx(4095), cy(4095), KMOD_LSHIFT);
    EXPECT_FALSE(ed.pointer.carrying);
    EXPECT_EQ(20u, arr().origin[4095]);
    EXPECT_EQ(1u, arr().origin[4076]);
    EXPECT_EQ(21u, arr().origin[1]);
    EXPECT_EQ(20u, arr().selected_count);

    EXPECT_EQ("", printed_by([&] { key(SDLK_s, KMOD_LCTRL); }));
    const std::string replay = dir.file("replayed.kts");
    ASSERT_TRUE(write_bytes(replay, original));
    EXPECT_EQ("", printed_by([&] { run_batch(replay.c_str(), (path + ".swaps").c_str()); }));
    EXPECT_TRUE(read_bytes(replay) == read_bytes(path));
}

} // namespace
