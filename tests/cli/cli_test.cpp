// The built program end to end: argument handling, the editor form's load
// failure and the batch form replaying a swap list onto a file in place.
#include "cli_support.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string NO_TILESET = "I want a tileset!\n";

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
             {"picture, no columns", {tool, "--export", tiles, bad, "--columns", "0"}, 2},
             {"picture, none named", {tool, "--preview", tiles, list}, 2},
             {"picture, folder missing", {tool, "--export", tiles, missing + "/x.png"}, 1},
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
