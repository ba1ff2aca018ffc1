#include "entry.h"

#include "../storage/status.h"
#include "batch.h"
#include "editor_launch.h"
#include "list_commands.h"

#include <cstdio>
#include <cstring>

namespace {

const char HELP[] = "Usage: kelbo-tool TILESET\n"
                    "       kelbo-tool TILESET SWAPLIST\n"
                    "       kelbo-tool --check TILESET SWAPLIST\n"
                    "       kelbo-tool --compose TILESET LIST...\n"
                    "       kelbo-tool --invert TILESET LIST\n"
                    "       kelbo-tool --export TILESET OUT.png [--columns C]\n"
                    "       kelbo-tool --preview TILESET SWAPLIST OUT.png [--columns C]\n"
                    "       kelbo-tool --help | --version\n"
                    "Rearranges the tiles of a tileset file.\n"
                    "  TILESET           open the editor; a save also writes TILESET.swaps\n"
                    "  TILESET SWAPLIST  replay the swap list onto the tileset, in place\n"
                    "  --check           tell what that replay would do; write nothing\n"
                    "  --compose         print one list that replays as the LISTs in turn\n"
                    "  --invert          print the list that undoes LIST's replay\n"
                    "  --export          write the tiles as a PNG, C to a row (default 10)\n"
                    "  --preview         the same as the replay would leave them, the\n"
                    "                    positions it changes framed; write no tileset\n"
                    "  -h, --help        print this help\n"
                    "  --version         print the version\n"
                    "Exit status: 0 done, 1 failed (--check: not a clean rearrangement),\n"
                    "2 wrong command line.\n"
                    "An option is only taken as the first argument; a file whose name\n"
                    "starts with '-' is reached as ./NAME.\n"
                    "In the editor, F1 shows the keys; man kelbo-tool tells the rest.\n";

bool is(const char* argument, const char* option) { return strcmp(argument, option) == 0; }

int usage(const char* line) {
    printf("Usage: kelbo-tool %s\n", line);
    return EXIT_USAGE;
}

// The first argument starts with '-'.
int run_option(int argc, char** argv) {
    const char* option = argv[1];
    if (is(option, "--help") || is(option, "-h")) {
        fputs(HELP, stdout);
        return EXIT_OK;
    }
    if (is(option, "--version")) {
        printf("kelbo-tool %s\n", KELBO_VERSION);
        return EXIT_OK;
    }
    if (is(option, "--check"))
        return argc == 4 ? check_command(argv[2], argv[3]) : usage("--check TILESET SWAPLIST");
    if (is(option, "--compose"))
        return argc >= 4 ? compose_command(argv[2], argv + 3, argc - 3)
                         : usage("--compose TILESET LIST...");
    if (is(option, "--invert"))
        return argc == 4 ? invert_command(argv[2], argv[3]) : usage("--invert TILESET LIST");
    // Pictures are drawn by the program that holds the libraries for them,
    // which the other forms are spared.
    if (is(option, "--export") || is(option, "--preview")) return start_editor(argc, argv);
    const std::string shown = printable(option);
    printf("Unknown option: %s\n", shown.c_str());
    printf("A file of that name is reached as ./%s\n", shown.c_str());
    return EXIT_USAGE;
}

} // namespace

int tool_main(int argc, char** argv) {
    int status = EXIT_USAGE;
    if (argc >= 2 && argv[1][0] == '-') {
        status = run_option(argc, argv);
        // A list printed to a full disk is no list: the caller must not go on.
        if ((fflush(stdout) != 0 || ferror(stdout)) && status == EXIT_OK) status = EXIT_FAILED;
    } else if (argc == 3) {
        // The status is the replay's: a warning lost on the way does not
        // undo a save, and a caller that retried would replay it twice.
        status = run_batch(argv[1], argv[2]) ? EXIT_OK : EXIT_FAILED;
    } else if (argc == 2) {
        status = start_editor(argc, argv);
    } else {
        printf("I want a tileset!\n");
    }
    return status;
}
