#include "editor_launch.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The folder of the running program, links resolved, so that a link to
// kelbo-tool from elsewhere still finds the editor ("" for the root).
// False, with errno set, when the system cannot say.
bool own_folder(std::string& folder) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n < 0) return false;
    if (size_t(n) == sizeof path) {
        errno = ENAMETOOLONG;
        return false;
    }
    assert(n > 0 && path[0] == '/'); // the system's link is always absolute
    folder.assign(path, size_t(n));
    folder.erase(folder.rfind('/'));
    return true;
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
    if (!own_folder(folder)) {
        printf("Failed to start the editor: /proc/self/exe (%s)\n", strerror(errno));
        return;
    }
    const std::string installed = join(folder, KELBO_EDITOR_FROM_BINDIR);
    fflush(stdout);
    execv(installed.c_str(), argv);
    std::string failed = installed;
    int reason = errno;
    if (reason == ENOENT) {
        // Not installed: the build tree keeps the editor beside the tool.
        const std::string built = folder + "/kelbo-editor";
        execv(built.c_str(), argv);
        if (errno != ENOENT) {
            failed = built;
            reason = errno;
        }
    }
    printf("Failed to start the editor: %s (%s)\n", failed.c_str(), strerror(reason));
}
