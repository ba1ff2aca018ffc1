#include "editor_launch.h"

#include "../storage/platform.h"

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The folder of the running program, links resolved, so that a link to
// kelbo-tool from elsewhere still finds the editor ("" for the root).
int own_folder(std::string& folder) {
    if (int error = os_own_program(folder)) return error;
    assert(!folder.empty() && folder[0] == '/'); // the system's link is always absolute
    folder.erase(folder.rfind('/'));
    return 0;
}

// `folder` joined with `relative`, its leading "../" taken off the folder
// so that a message shows a plain path. The folder has no links left to
// make ".." mean anything else.
std::string join(std::string folder, const char* relative) {
    while (strncmp(relative, "../", 3) == 0 && !folder.empty()) {
        folder.erase(folder.rfind('/'));
        relative += 3;
    }
    return folder + "/" + relative;
}

} // namespace

void exec_editor(char** argv) {
    std::string folder;
    if (int error = own_folder(folder)) {
        printf("Failed to start the editor: /proc/self/exe (%s)\n", strerror(error));
        return;
    }
    const std::string installed = join(folder, KELBO_EDITOR_FROM_BINDIR);
    fflush(stdout);
    std::string failed = installed;
    int reason = os_exec(installed, argv);
    if (reason == ENOENT) {
        // Not installed: the build tree keeps the editor beside the tool.
        const std::string built = folder + "/kelbo-editor";
        int error = os_exec(built, argv);
        if (error != ENOENT) {
            failed = built;
            reason = error;
        }
    }
    printf("Failed to start the editor: %s (%s)\n", failed.c_str(), strerror(reason));
}
