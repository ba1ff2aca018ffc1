// kelbo-editor: the editor as a program of its own, which kelbo-tool
// starts with its own command line (kelbo-tool TILESET). Always exits 0;
// failures show only as messages.
#include "../editor/editor.h"

#include <cstdio>

int main(int argc, char** argv) {
    // Every message shows at once, even in a file: a session may run long.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 2) {
        if (editor_open(argv[1])) editor_run();
        editor_close();
    } else {
        printf("I want a tileset!\n");
    }
    fflush(stdout);
    return 0;
}
