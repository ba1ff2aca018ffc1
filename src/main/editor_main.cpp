// kelbo-editor: the editor as a program of its own, which kelbo-tool
// starts with its own command line (kelbo-tool TILESET). Exits 0 when the
// user quits; 1 when the tileset or the window cannot be opened, or the
// editor was ended otherwise (a signal, the display lost, waits failing).
#include "../editor/loop.h"
#include "entry.h"

#include <cstdio>

int main(int argc, char** argv) {
    // Every message shows at once, even in a file: a session may run long.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    int status = EXIT_USAGE;
    if (argc == 2) {
        Editor editor;
        status = editor_open(editor, argv[1]) && editor_run(editor) == 0 ? EXIT_OK : EXIT_FAILED;
        editor_close(editor);
    } else {
        printf("I want a tileset!\n");
    }
    fflush(stdout);
    return status;
}
