// The list tools of the built program (check, compose, invert): what they
// print, and that they write no file and take no lock.
#include "cli_support.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The list tools write no file and take no lock: the lock held here would
// stall any of them that took it.
class ListToolTest : public CliTest {
  protected:
    int held = -1;
    void SetUp() override {
        CliTest::SetUp();
        held = open(tiles.c_str(), O_RDONLY);
        ASSERT_EQ(0, flock(held, LOCK_EX));
    }
    void TearDown() override { close(held); }
    // Writes `text` as a list in the scratch folder and returns its path.
    std::string list_file(const std::string& name, const std::string& text) {
        EXPECT_TRUE(write_text(dir.file(name), text));
        return dir.file(name);
    }
    void replay(const std::string& tileset, const std::string& list_path) {
        close(held); // the replay takes the lock
        held = -1;
        EXPECT_EQ(0, run_tool({tileset, list_path}).status) << list_path;
    }
};

TEST_F(ListToolTest, CheckTellsWhatTheReplayWouldDoAndWritesNothing) {
    struct Case {
        const char* text;
        std::string report;
        int status;
    };
    const std::string not_clean = "Not clean: the replay would do more than rearrange the tiles\n";
    for (const Case& c : std::vector<Case>{
             {"5 7\n7 5\n",
              "Entries: 2\nPositions that change: 2\nClean: the replay only rearranges the tiles\n",
              0},
             {"57 3\n", // tile 3 lost, 57 doubled
              "Entries: 1\nPositions that change: 1\nTile 3 would stand nowhere\n"
              "Tile 57 would stand at positions 3, 57\n" +
                  not_clean,
              1},
             {"1 2\n2 1\n5000 3\n", // 5000 is tile 904 of the small tables
              "Entries: 3\nPositions that change: 3\n"
              "Line 3 puts tile 904, at or past the tile count (300), at position 3\n"
              "Tile 3 would stand nowhere\n" +
                  not_clean,
              1},
             {"\n4 700\n", // past the 300 tiles
              "Entries: 1\nPositions that change: 0\n"
              "Line 2 writes position 700, at or past the tile count (300)\n" +
                  not_clean,
              1},
         }) {
        write_list(c.text);
        expect_output(run_tool({"--check", tiles, list}), c.report, c.status);
    }
    EXPECT_EQ(sample, read_bytes(tiles));
    EXPECT_EQ((std::vector<std::string>{"swaps.txt", "tiles.dat"}), folder_entries(dir.path));
}

TEST_F(ListToolTest, ComposedListReplaysAsBothListsInTurn) {
    const std::string first = list_file("first.txt", "5 7\n7 5\n1 2\n"); // tile 2 lost
    const std::string second = list_file("second.txt", "7 9\n9 1\n1 7\n2 1029\n");
    ProcessResult composed = run_tool({"--compose", tiles, first, second});
    EXPECT_EQ(0, composed.status);
    const std::string joined = list_file("joined.txt", composed.out);
    const std::string other = dir.file("other.dat");
    ASSERT_TRUE(write_bytes(other, sample));

    replay(tiles, first);
    replay(tiles, second);
    replay(other, joined);
    EXPECT_EQ(read_bytes(tiles), read_bytes(other));
    EXPECT_NE(sample, read_bytes(other));
}

// Lists are joined as they are read: a thousand long ones take no more
// memory than one.
TEST_F(ListToolTest, ComposeJoinsAnyNumberOfListsInBoundedMemory) {
    std::string text; // 8192 entries, the longest list that is kept exactly
    for (uint32_t i = 0; i < 8192; ++i)
        text += std::to_string(i % 300) + " " + std::to_string(i * 7 % 300) + "\n";
    const std::string long_list = list_file("long.txt", text);
    // Under the address sanitizer freed memory would stay resident a while.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::vector<std::string> env = {std::string("ASAN_OPTIONS=") + (asan ? asan : "") +
                                          ":quarantine_size_mb=0"};
    std::vector<std::string> argv = {KELBO_TOOL_PATH, "--compose", tiles, long_list};
    struct rusage one, many;
    ASSERT_EQ(0, run_process(argv, env).status);
    getrusage(RUSAGE_CHILDREN, &one);
    argv.insert(argv.end(), 999, long_list);
    EXPECT_EQ(0, run_process(argv, env).status);
    getrusage(RUSAGE_CHILDREN, &many);
    EXPECT_LT(many.ru_maxrss - one.ru_maxrss, 16 * 1024); // KiB
}

TEST_F(ListToolTest, InvertedListUndoesACleanReplayAndIsRefusedOtherwise) {
    write_list("1 2\n2 3\n3 1\n40 299\n299 40\n");
    ProcessResult inverted = run_tool({"--invert", tiles, list});
    EXPECT_EQ(0, inverted.status);
    const std::string undo = list_file("undo.txt", inverted.out);
    const std::string typo = list_file("typo.txt", "57 3\n");
    expect_output(run_tool({"--invert", tiles, typo}),
                  "Swap list " + typo + ": not a clean rearrangement, so no list undoes it\n", 1);

    replay(tiles, list);
    EXPECT_NE(streams.info, unpacked_stream(read_bytes(tiles), 0));
    replay(tiles, undo);
    EXPECT_EQ(streams.info, unpacked_stream(read_bytes(tiles), 0));
}

} // namespace
