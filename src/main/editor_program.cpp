#include "editor_program.h"

#include "../editor/loop.h"
#include "exit_status.h"
#include "picture_commands.h"

#include <cstdio>
#include <cstring>

int editor_program(int argc, char** argv) {
    if (argc >= 2 && (!strcmp(argv[1], "--export") || !strcmp(argv[1], "--preview"))) {
        int status = picture_option(argc, argv);
        // A count printed to a full disk is no count.
        if ((fflush(stdout) != 0 || ferror(stdout)) && status == EXIT_OK) status = EXIT_FAILED;
        return status;
    }
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
