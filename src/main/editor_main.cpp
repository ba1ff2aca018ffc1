// kelbo-editor: the editor as a program of its own, which kelbo-tool
// starts with its own command line (kelbo-tool TILESET). Exits 0 when the
// user quits, 1 when the tileset or the window cannot be opened.
#include "../editor/editor.h"
#include "entry.h"

#include <cstdio>

int main(int argc, char** argv) {
    int status = EXIT_USAGE;
    if (argc == 2) {
        bool opened = editor_open(argv[1]);
        if (opened) editor_run();
        editor_close();
        status = opened ? EXIT_OK : EXIT_FAILED;
    } else {
        printf("I want a tileset!\n");
    }
    fflush(stdout);
    return status;
}
