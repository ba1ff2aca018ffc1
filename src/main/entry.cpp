#include "entry.h"

#include "../arrangement/arrangement.h"
#include "editor_launch.h"

#include <cstdio>

int tool_main(int argc, char** argv) {
    if (argc == 3) {
        run_batch(argv[1], argv[2]);
    } else if (argc == 2) {
        exec_editor(argv);
    } else {
        printf("I want a tileset!\n");
    }
    fflush(stdout);
    return 0;
}
