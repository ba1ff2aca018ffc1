#include "entry.h"

#include "../arrangement/arrangement.h"
#include "editor_launch.h"

#include <cstdio>

int tool_main(int argc, char** argv) {
    int status = EXIT_USAGE;
    if (argc == 3) {
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
