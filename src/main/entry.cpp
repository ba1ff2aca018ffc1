#include "entry.h"

#include "../arrangement/arrangement.h"
#include "../editor/editor.h"

#include <cstdio>

int SDL_main(int argc, char** argv) {
    if (argc == 3) {
        run_batch(argv[1], argv[2]);
    } else if (argc == 2) {
        if (editor_open(argv[1])) editor_run();
        editor_close();
    } else {
        printf("I want a tileset!\n");
    }
    fflush(stdout);
    return 0;
}
