// A session's open, save and rescue, called directly: what reaches the
// disk, and why a save or an open did not happen.
#include "sample_tileset.h"
#include "session.h"
#include "test_support.h"

#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SessionTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string path = dir.file("tiles.kts");
    SampleStreams streams = make_sample_streams(false);
    Session s;
    Arrangement& a = s.arrangement;

    void TearDown() override { session_close(s); }
    void open() {
        ASSERT_TRUE(write_bytes(path, assemble_tileset(streams)));
        ASSERT_TRUE(bool(session_open(s, path.c_str())));
    }
    // Tiles 14 and 40 trade places, in one edit.
    void exchange() {
        history_begin_edit(a);
        swap_positions(a, 14, 40);
        history_end_edit(a, false);
    }
    std::vector<uint8_t> exchanged() { return with_tiles_exchanged(streams.info, 1024, 14, 40); }
    SaveOutcome save() { return session_save(s).outcome; }
};

TEST_F(SessionTest, SaveWritesTheMovedTablesAndTheSwapList) {
    ASSERT_NO_FATAL_FAILURE(open());
    const std::vector<uint8_t> before = read_bytes(path);
    exchange();
    SaveResult saved = session_save(s);
    EXPECT_EQ(SAVE_DONE, saved.outcome);
    EXPECT_EQ("", storage_message(saved.status));
    EXPECT_FALSE(history_unsaved(a));

    EXPECT_EQ("40 14\n14 40\n", read_text(path + ".swaps"));
    std::vector<uint8_t> after = read_bytes(path);
    EXPECT_EQ(after.size(), read_u32_le(after, 222)); // the header's file size
    EXPECT_EQ(streams.info.size(), unpacked_size(after, STREAM_INFO));
    EXPECT_EQ(exchanged(), unpacked_stream(after, STREAM_INFO));
    // Everything after the info stream is carried through unchanged.
    for (int i = STREAM_IMAGE; i < STREAM_COUNT; ++i)
        EXPECT_EQ(packed_stream(before, i), packed_stream(after, i));
}

TEST_F(SessionTest, FileChangedByAnotherProgramIsOverwrittenOnlyWhenAskedTwice) {
    ASSERT_NO_FATAL_FAILURE(open());
    exchange();
    ASSERT_TRUE(write_text(dir.file("theirs.txt"), "5 7\n"));
    run_process({KELBO_TOOL_PATH, path, dir.file("theirs.txt")});
    const std::vector<uint8_t> theirs = read_bytes(path);

    EXPECT_EQ(SAVE_CHANGED_ON_DISK, save());
    EXPECT_EQ(theirs, read_bytes(path));
    EXPECT_FALSE(file_exists(path + ".swaps"));
    EXPECT_EQ(SAVE_DONE, save());
    EXPECT_EQ("40 14\n14 40\n", read_text(path + ".swaps"));
    EXPECT_EQ(exchanged(), unpacked_stream(read_bytes(path), STREAM_INFO));
    EXPECT_EQ(SAVE_DONE, save()); // its own save is no stranger's
}

// A path that now leads through another folder is taken afresh, and the
// swap list goes beside the tileset there.
TEST_F(SessionTest, PathTakenAfreshTakesTheSwapListAlong) {
    const std::string a_dir = dir.file("a"), b_dir = dir.file("b"), via = dir.file("via");
    ASSERT_EQ(0, mkdir(a_dir.c_str(), 0700));
    ASSERT_EQ(0, mkdir(b_dir.c_str(), 0700));
    ASSERT_EQ(0, symlink("a", via.c_str()));
    path = via + "/tiles.kts";
    ASSERT_NO_FATAL_FAILURE(open());
    exchange();
    ASSERT_EQ(0, rename((a_dir + "/tiles.kts").c_str(), (b_dir + "/tiles.kts").c_str()));
    ASSERT_EQ(0, unlink(via.c_str()));
    ASSERT_EQ(0, symlink("b", via.c_str()));

    EXPECT_EQ(SAVE_DONE, save());
    EXPECT_EQ("40 14\n14 40\n", read_text(b_dir + "/tiles.kts.swaps"));
    EXPECT_FALSE(file_exists(a_dir + "/tiles.kts.swaps"));
}

TEST_F(SessionTest, LockHeldElsewhereIsWaitedForTwoSecondsAndNamesItsHolder) {
    ASSERT_NO_FATAL_FAILURE(open());
    exchange();
    int held = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    const time_t start = time(nullptr);
    SaveResult saved = session_save(s);
    const time_t waited = time(nullptr) - start;
    close(held);
    EXPECT_EQ(SAVE_LOCKED, saved.outcome);
    EXPECT_EQ("Tileset file is locked by another program: " + path + " (process " +
                  std::to_string(getpid()) + ")\n",
              storage_message(saved.status));
    EXPECT_GE(waited, 1);
    EXPECT_LE(waited, 4);
    EXPECT_EQ(assemble_tileset(streams), read_bytes(path));
    EXPECT_FALSE(file_exists(path + ".swaps"));
}

TEST_F(SessionTest, AnotherUsersLinkInAStickyFolderIsNotFollowed) {
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
    ASSERT_NO_FATAL_FAILURE(open());
    exchange();
    ASSERT_NO_FATAL_FAILURE(plant(path + ".swaps"));

    SaveResult saved = session_save(s);
    EXPECT_EQ(SAVE_LIST_FAILED, saved.outcome);
    EXPECT_EQ("Failed to write swap list: " + path + ".swaps (Permission denied)\n",
              storage_message(saved.status));
    EXPECT_EQ("root's own\n", read_text(secret));
    EXPECT_EQ(exchanged(), unpacked_stream(read_bytes(path), STREAM_INFO));

    // The same link as the tileset is not opened either.
    session_close(s);
    const std::string link = shared + "/linked.kts";
    ASSERT_NO_FATAL_FAILURE(plant(link));
    EXPECT_EQ("Failed to load file: " + link + " (Permission denied)\n",
              storage_message(session_open(s, link.c_str())));
}

TEST_F(SessionTest, FolderFailsToOpen) {
    EXPECT_EQ("Failed to load file: " + dir.path + " (not a regular file)\n",
              storage_message(session_open(s, dir.path.c_str())));
    session_close(s); // and again at the end
}

TEST_F(SessionTest, FailedWriteKeepsTheEditsAndAFailedListIsToldApart) {
    ASSERT_NO_FATAL_FAILURE(open());
    exchange();
    // Under a file size limit smaller than the tileset it cannot be written.
    struct rlimit saved_limit;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved_limit));
    const struct rlimit small = {1000, saved_limit.rlim_max};
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    SaveResult saved = session_save(s);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved_limit));
    EXPECT_EQ(SAVE_FAILED, saved.outcome);
    EXPECT_EQ("Failed to save file: " + path + " (File too large)\n",
              storage_message(saved.status));
    EXPECT_EQ(assemble_tileset(streams), read_bytes(path));
    EXPECT_FALSE(file_exists(path + ".swaps"));
    EXPECT_EQ(40u, a.origin[14]);
    EXPECT_TRUE(history_unsaved(a));

    // Once the limit is lifted, the tileset saves, but not its list here.
    ASSERT_EQ(0, mkdir((path + ".swaps").c_str(), 0755));
    saved = session_save(s);
    EXPECT_EQ(SAVE_LIST_FAILED, saved.outcome);
    EXPECT_EQ(
        0u, storage_message(saved.status).find("Failed to write swap list: " + path + ".swaps ("));
    EXPECT_EQ(exchanged(), unpacked_stream(read_bytes(path), STREAM_INFO));
    ASSERT_EQ(0, rmdir((path + ".swaps").c_str()));
    EXPECT_EQ(SAVE_DONE, save());
    EXPECT_EQ("40 14\n14 40\n", read_text(path + ".swaps"));
}

// Each session's list stays beside the next, and the chain joins into one
// list from the original.
TEST_F(SessionTest, AListFromAnotherSessionIsKeptNumberedBeforeItIsReplaced) {
    ASSERT_NO_FATAL_FAILURE(open());
    const std::vector<uint8_t> original = read_bytes(path);
    exchange();
    EXPECT_EQ(SAVE_DONE, save());
    swap_positions(a, 5, 6);
    EXPECT_EQ(SAVE_DONE, save()); // its own list: replaced, not kept
    const std::string first = read_text(path + ".swaps");
    ASSERT_EQ(0, chmod((path + ".swaps").c_str(), 0640));
    EXPECT_EQ((std::vector<std::string>{"tiles.kts", "tiles.kts.swaps"}), folder_entries(dir.path));

    session_close(s);
    ASSERT_TRUE(bool(session_open(s, path.c_str())));
    swap_positions(a, 14, 15);
    EXPECT_EQ(SAVE_DONE, save());
    EXPECT_EQ(first, read_text(path + ".swaps.~1~"));
    EXPECT_EQ("15 14\n14 15\n", read_text(path + ".swaps"));
    struct stat st;
    ASSERT_EQ(0, stat((path + ".swaps.~1~").c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);

    const std::string joined = dir.file("joined.swaps"), again = dir.file("again.kts");
    ProcessResult r =
        run_process({KELBO_TOOL_PATH, "--compose", path, path + ".swaps.~1~", path + ".swaps"});
    ASSERT_TRUE(write_text(joined, r.out));
    ASSERT_TRUE(write_bytes(again, original));
    run_process({KELBO_TOOL_PATH, again, joined});
    EXPECT_TRUE(read_bytes(again) == read_bytes(path));
}

TEST_F(SessionTest, AListThatCannotBeKeptIsNotReplaced) {
    const std::string list = path + ".swaps";
    // Numbers go on from the highest there.
    ASSERT_TRUE(write_text(list + ".~1~", "1 2\n2 1\n"));
    ASSERT_TRUE(write_text(list + ".~3~", "1 2\n2 1\n"));
    ASSERT_TRUE(write_text(list, "3 4\n4 3\n"));
    ASSERT_EQ(0, truncate(list.c_str(), off_t(65) << 20)); // too large to be a list
    ASSERT_NO_FATAL_FAILURE(open());
    exchange();
    EXPECT_EQ("Failed to write swap list: " + list + " (File too large, keeping the old list as " +
                  list + ".~4~)\n",
              storage_message(session_save(s).status));
    struct stat st;
    ASSERT_EQ(0, stat(list.c_str(), &st));
    EXPECT_EQ(off_t(65) << 20, st.st_size);
    EXPECT_EQ(4u, folder_entries(dir.path).size());

    ASSERT_EQ(0, truncate(list.c_str(), 8));
    EXPECT_EQ(SAVE_DONE, save());
    EXPECT_EQ("3 4\n4 3\n", read_text(list + ".~4~"));
    EXPECT_EQ("40 14\n14 40\n", read_text(list));
}

// Twenty tiles from the start to the end of a 4096-tile file: the saved
// list replays the original to the saved file.
TEST_F(SessionTest, BlockMovedToTheEndSavesAListThatReplaysToTheSameFile) {
    streams = make_sample_streams(true);
    ASSERT_NO_FATAL_FAILURE(open());
    const std::vector<uint8_t> original = read_bytes(path);
    for (uint32_t p = 1; p <= 20; ++p) set_selected(a, p, 1);
    move_selection(a, 4095);
    EXPECT_EQ(20u, a.origin[4095]);
    EXPECT_EQ(1u, a.origin[4076]);
    EXPECT_EQ(21u, a.origin[1]);

    EXPECT_EQ(SAVE_DONE, save());
    const std::string again = dir.file("again.kts");
    ASSERT_TRUE(write_bytes(again, original));
    EXPECT_EQ("", run_process({KELBO_TOOL_PATH, again, path + ".swaps"}).out);
    EXPECT_TRUE(read_bytes(again) == read_bytes(path));
}

// Ended from outside, a session keeps its work as a fill and a save would
// write it, in the private folder; it comes back in the next session of the
// file as one edit, while the file is the version it was rescued from.
TEST_F(SessionTest, RescuedWorkComesBackInTheNextSession) {
    ASSERT_EQ(0, setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1));
    ASSERT_NO_FATAL_FAILURE(open());
    const std::vector<uint8_t> before = read_bytes(path);
    exchange();
    set_selected(a, 20, 1);
    cut_selection(a); // held, but put back in the copy
    std::string out = session_rescue(s);
    const std::string kept =
        "The new content is kept in: " + dir.file("state/kelbo-tool/tiles.kts");
    ASSERT_EQ(0u, out.find(kept + ".kelbo-rescue-")) << out;
    const std::string copy = out.substr(28, out.size() - 29);
    EXPECT_EQ(before, read_bytes(path));
    EXPECT_EQ("40 14\n14 40\n", read_text(copy + ".swaps"));
    EXPECT_EQ(exchanged(), unpacked_stream(read_bytes(copy), STREAM_INFO));
    session_close(s);

    ASSERT_TRUE(bool(session_open(s, path.c_str())));
    Restored back = session_restore(s);
    EXPECT_EQ(RESTORE_DONE, back.outcome);
    EXPECT_EQ(copy, back.copy);
    EXPECT_EQ(40u, a.origin[14]);
    EXPECT_TRUE(history_unsaved(a));
    ASSERT_TRUE(history_undo(a));
    EXPECT_EQ(14u, a.origin[14]);
    ASSERT_TRUE(history_redo(a));
    EXPECT_EQ(SAVE_DONE, save()); // the rescue is done with
    EXPECT_EQ(std::vector<std::string>{}, folder_entries(dir.file("state/kelbo-tool")));
    // Kept from a file that has changed since, it is not taken back.
    exchange();
    out = session_rescue(s);
    session_close(s);
    ASSERT_TRUE(write_bytes(path, before));
    ASSERT_TRUE(bool(session_open(s, path.c_str())));
    back = session_restore(s);
    EXPECT_EQ(RESTORE_FILE_CHANGED, back.outcome);
    EXPECT_EQ(out.substr(28, out.size() - 29), back.copy);
    EXPECT_FALSE(history_unsaved(a));
    unsetenv("XDG_STATE_HOME");
}

} // namespace
