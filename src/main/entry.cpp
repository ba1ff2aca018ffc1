#include "entry.h"

#include "../arrangement/arrangement.h"
#include "editor_launch.h"

#include <cstdio>
#include <cstring>

namespace {

const char HELP[] = "Usage: kelbo-tool TILESET\n"
                    "       kelbo-tool TILESET SWAPLIST\n"
                    "       kelbo-tool --help | --version\n"
                    "Rearranges the tiles of a tileset file.\n"
                    "  TILESET           open the editor; a save also writes TILESET.swaps\n"
                    "  TILESET SWAPLIST  replay the swap list onto the tileset, in place\n"
                    "  -h, --help        print this help\n"
                    "  --version         print the version\n"
                    "Exit status: 0 done, 1 failed, 2 wrong command line.\n"
                    "An option is only taken as the first argument; a file whose name\n"
                    "starts with '-' is reached as ./NAME.\n";

bool is(const char* argument, const char* option) { return strcmp(argument, option) == 0; }

// The first argument starts with '-'.
int run_option(char** argv) {
    const char* option = argv[1];
    if (is(option, "--help") || is(option, "-h")) {
        fputs(HELP, stdout);
        return EXIT_OK;
    }
    if (is(option, "--version")) {
        printf("kelbo-tool %s\n", KELBO_VERSION);
        return EXIT_OK;
    }
    printf("Unknown option: %s\n", option);
    printf("A file of that name is reached as ./%s\n", option);
    return EXIT_USAGE;
}

} // namespace

int tool_main(int argc, char** argv) {
    int status = EXIT_USAGE;
    if (argc >= 2 && argv[1][0] == '-') {
        status = run_option(argv);
    } else if (argc == 3) {
        status = run_batch(argv[1], argv[2]) ? EXIT_OK : EXIT_FAILED;
    } else if (argc == 2) {
        exec_editor(argv);
        status = EXIT_FAILED; // it returns only when the editor could not start
    } else {
        printf("I want a tileset!\n");
    }
    fflush(stdout);
    return status;
}
