// The built program end to end: argument handling, the editor form's load
// failure and the batch form replaying a swap list onto a file in place.
#include "sample_tileset.h"
#include "test_support.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string NO_TILESET = "I want a tileset!\n";

ProcessResult run_tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {KELBO_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
}

class CliTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    SampleStreams streams = make_sample_streams(false);
    std::vector<uint8_t> sample = assemble_tileset(streams);
    std::string tiles = dir.file("tiles.dat");
    std::string list = dir.file("swaps.txt");

    void SetUp() override { ASSERT_TRUE(write_bytes(tiles, sample)); }
    void write_list(const std::string& text) { ASSERT_TRUE(write_text(list, text)); }
    void expect_output(const ProcessResult& r, const std::string& out, int status) {
        EXPECT_EQ(status, r.status);
        EXPECT_EQ(out, r.out);
        EXPECT_EQ("", r.err);
    }
    // The rewritten file must keep streams 1-3 and carry a correct header.
    void expect_rewritten_with_info(const std::vector<uint8_t>& info) {
        std::vector<uint8_t> after = read_bytes(tiles);
        ASSERT_GT(after.size(), 262u);
        EXPECT_EQ(after.size(), read_u32_le(after, 222));
        EXPECT_EQ(crc_of_streams(after), read_u32_le(after, 226));
        for (int i = 1; i < 4; ++i) EXPECT_EQ(packed_stream(sample, i), packed_stream(after, i));
        EXPECT_EQ(info, unpacked_stream(after, 0));
    }
};

TEST_F(CliTest, WrongArgumentCountAsksForATileset) {
    write_list("5 7\n7 5\n");
    expect_output(run_tool({}), NO_TILESET, 2);
    expect_output(run_tool({tiles, list, tiles}), NO_TILESET, 2);
    expect_output(run_tool({tiles, list, "x", "y"}), NO_TILESET, 2);
    EXPECT_EQ(sample, read_bytes(tiles));
}

// A script can trust the status: 0 done, 1 failed (the output says why),
// 2 a wrong command line.
TEST_F(CliTest, ExitStatusTellsSuccessFailureAndUsage) {
    const std::string tool = KELBO_TOOL_PATH, missing = dir.file("absent.dat");
    const std::string bad = dir.file("bad.txt"), stale = dir.file("stale.dat");
    ASSERT_TRUE(write_text(bad, "5,7\n"));
    std::vector<uint8_t> warns = sample; // its checksum warning cannot be printed below
    warns[226] ^= 1;
    ASSERT_TRUE(write_bytes(stale, warns));
    write_list("5 7\n7 5\n");
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        int status;
    };
    for (const Case& c : std::vector<Case>{
             {"replay", {tool, tiles, list}, 0},
             {"no argument", {tool}, 2},
             {"three arguments", {tool, tiles, list, list}, 2},
             {"missing tileset", {tool, missing, list}, 1},
             {"missing list", {tool, tiles, missing}, 1},
             {"bad list", {tool, tiles, bad}, 1},
             // under a file size limit below the tileset's size
             {"failed save",
              {"/bin/bash", "-c", "ulimit -f 4; exec \"$@\"", "-", tool, tiles, list},
              1},
             {"editor, missing tileset", {tool, missing}, 1},
             {"editor, no window", {tool, tiles}, 1},
             {"editor alone, no argument", {KELBO_EDITOR_PATH}, 2},
             {"list printed to a full disk",
              {"/bin/sh", "-c", "exec \"$@\" >/dev/full", "-", tool, "--compose", tiles, list},
              1},
             {"replay done, its warning lost",
              {"/bin/sh", "-c", "exec \"$@\" >/dev/full", "-", tool, stale, list},
              0},
             {"help", {tool, "--help"}, 0},
             {"version", {tool, "--version"}, 0},
             {"unknown option", {tool, "--tiles", list}, 2},
         }) {
        ProcessResult r =
            run_process(c.argv, {"SDL_VIDEODRIVER", "DISPLAY", "SDL_FBDEV=/nonexistent"});
        EXPECT_EQ(c.status, r.status) << c.name << ": " << r.out;
    }
}

// Runs a program from `folder`, where it writes what it names relatively.
ProcessResult run_in(const std::string& folder, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", folder});
    return run_process(argv);
}

// An option is taken only as the first argument; a file named like one is
// reached as ./NAME.
TEST_F(CliTest, HelpVersionAndUnknownOptions) {
    ProcessResult help = run_tool({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("Usage: kelbo-tool TILESET\n")) << help.out;
    EXPECT_EQ(help.out, run_tool({"-h", tiles}).out);
    expect_output(run_tool({"--version"}), std::string("kelbo-tool ") + KELBO_VERSION + "\n", 0);
    expect_output(run_tool({"--tiles", list}),
                  "Unknown option: --tiles\nA file of that name is reached as ./--tiles\n", 2);

    ASSERT_EQ(0, rename(tiles.c_str(), dir.file("--tiles").c_str()));
    write_list("5 7\n7 5\n");
    EXPECT_EQ(0, run_in(dir.path, {KELBO_TOOL_PATH, "./--tiles", list}).status);
    EXPECT_EQ(with_tiles_exchanged(streams.info, 1024, 5, 7),
              unpacked_stream(read_bytes(dir.file("--tiles")), 0));
}

TEST_F(CliTest, SampleMakerTakesNoFileNameForAnOption) {
    const std::string tool = KELBO_MKSAMPLE_PATH;
    ScratchDir empty;
    ProcessResult help = run_in(empty.path, {tool, "--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage: kelbo-mksample [--large] OUT\n")) << help.out;
    expect_output(run_in(empty.path, {tool, "--version"}),
                  std::string("kelbo-mksample ") + KELBO_VERSION + "\n", 0);
    expect_output(run_in(empty.path, {tool, "--large", "-o"}),
                  "Unknown option: -o\nA file of that name is reached as ./-o\n", 2);
    expect_output(run_in(empty.path, {tool, "--large"}), "usage: kelbo-mksample [--large] OUT\n",
                  2);
    EXPECT_EQ(std::vector<std::string>{}, folder_entries(empty.path));
    EXPECT_EQ(0, run_in(empty.path, {tool, "./--help"}).status);
    EXPECT_EQ(std::vector<std::string>{"--help"}, folder_entries(empty.path));
}

TEST_F(CliTest, EditorFormWithMissingTilesetFailsWithoutAWindow) {
    std::string missing = dir.file("absent.dat");
    expect_output(run_tool({missing}),
                  "Failed to load file: " + missing +
                      " (No such file or directory)\nFailed to load tileset!\n",
                  1);
    EXPECT_FALSE(file_exists(missing));
}

// No X display and no framebuffer: a message, not a window drawn as text.
TEST_F(CliTest, EditorFormWithoutADisplaySaysSo) {
    expect_output(run_process({KELBO_TOOL_PATH, tiles},
                              {"SDL_VIDEODRIVER", "DISPLAY", "SDL_FBDEV=/nonexistent"}),
                  "Failed to open the window: No available video device\n", 1);
    EXPECT_EQ(sample, read_bytes(tiles));
}

// Installed, the editor is its own program in prefix/libexec/kelbo-tool.
TEST_F(CliTest, EditorFormStartsTheInstalledEditorOrSaysItIsMissing) {
    char real[PATH_MAX];
    ASSERT_TRUE(realpath(dir.path.c_str(), real)); // as the tool sees its own folder
    const std::string prefix = real;
    const std::string tool = prefix + "/bin/kelbo-tool";
    const std::string editor = prefix + "/libexec/kelbo-tool/kelbo-editor";
    for (const char* folder : {"/bin", "/libexec", "/libexec/kelbo-tool"})
        ASSERT_EQ(0, mkdir((prefix + folder).c_str(), 0755));
    ASSERT_TRUE(write_bytes(tool, read_bytes(KELBO_TOOL_PATH)));
    ASSERT_EQ(0, chmod(tool.c_str(), 0755));
    const std::vector<std::string> no_display = {"SDL_VIDEODRIVER", "DISPLAY",
                                                 "SDL_FBDEV=/nonexistent"};

    expect_output(run_process({tool, tiles}, no_display),
                  "Failed to start the editor: " + editor + " (No such file or directory)\n", 1);
    ASSERT_TRUE(write_bytes(editor, read_bytes(KELBO_EDITOR_PATH)));
    ASSERT_EQ(0, chmod(editor.c_str(), 0755));
    expect_output(run_process({tool, tiles}, no_display),
                  "Failed to open the window: No available video device\n", 1);
    EXPECT_EQ(sample, read_bytes(tiles));
    if (geteuid() != 0) return;
    // Another user's editor beside the tool is found first, and not run.
    const std::string planted = prefix + "/bin/kelbo-editor";
    ASSERT_TRUE(write_bytes(planted, read_bytes(KELBO_EDITOR_PATH)));
    ASSERT_EQ(0, chmod(planted.c_str(), 0755));
    ASSERT_EQ(0, chown(planted.c_str(), 65534, 65534));
    expect_output(run_process({tool, tiles}, no_display),
                  "Failed to start the editor: " + planted +
                      " (not owned by you or root, or writable by others)\n",
                  1);
}

// No name moves the terminal or forges a line of the output.
TEST_F(CliTest, PathsArePrintedWithoutControlBytes) {
    const std::string name = dir.file("x\x1b]0;PWNED\a\n");
    expect_output(run_tool({name, name}),
                  "Swap list " + dir.file("x\\x1b]0;PWNED\\x07\\x0a") +
                      ": No such file or directory\nFailed to load swapfile!\n",
                  1);
}

// SDL and the sound, terminal and X libraries behind it are the editor's
// alone; loading them would double the batch route's run time.
TEST_F(CliTest, BatchLoadsNoSdlLibrary) {
    write_list("5 7\n7 5\n");
    ProcessResult r = run_process({KELBO_TOOL_PATH, tiles, list}, {"LD_DEBUG=files"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, r.err.find("libz.so")) << "the loader reported nothing";
    for (const char* library : {"libSDL", "libX11", "libasound", "libpulse", "libcaca"})
        EXPECT_EQ(std::string::npos, r.err.find(library)) << library;
    expect_rewritten_with_info(with_tiles_exchanged(streams.info, 1024, 5, 7));
}

TEST_F(CliTest, BatchWithAnEmptyListStillRewritesTheFile) {
    // Trailing bytes show whether the file was written anew.
    std::vector<uint8_t> padded = sample;
    padded.insert(padded.end(), 16, 0x5A);
    ASSERT_TRUE(write_bytes(tiles, padded));
    write_list("");
    expect_output(run_tool({tiles, list}), "", 0);
    EXPECT_EQ(sample.size(), read_bytes(tiles).size());
    expect_rewritten_with_info(streams.info);
}

} // namespace

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
