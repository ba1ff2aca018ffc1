#include "editor_launch.h"

#include "../storage/platform.h"
#include "../storage/status.h"
#include "entry.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Not an errno: the editor found is not one this user may trust.
constexpr int UNTRUSTED = -100;

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

// Whether no one but root and this user can have put the program at
// `path` there: it and every folder above it are theirs and writable by no
// one else, but for a sticky folder of root's (such as /tmp), whose
// entries others cannot replace.
bool trusted(const std::string& path) {
    const uint32_t me = os_user();
    for (std::string at = path;; at.erase(std::max<size_t>(at.rfind('/'), 1))) {
        FileInfo info;
        if (os_stat_path(at, info) != 0) return false;
        const bool root_sticky = info.kind == KIND_FOLDER && info.owner == 0 && (info.mode & 01000);
        if ((info.owner != 0 && info.owner != me) || ((info.mode & 022) && !root_sticky))
            return false;
        if (at == "/") return true;
    }
}

// Replaces this process with the editor at `path`, if it exists; returns
// why not (ENOENT when there is none).
int try_editor(const std::string& path, char** argv) {
    std::string real;
    if (int error = os_real_path(path, real)) return error;
    if (!trusted(real)) return UNTRUSTED;
    fflush(stdout);
    return os_exec(real, argv);
}

} // namespace

int start_editor(int, char** argv) {
    // The folder of the running program, links resolved, so that a link to
    // kelbo-tool from elsewhere still finds the editor.
    std::string folder;
    if (int error = os_own_program(folder)) {
        printf("Failed to start the editor: /proc/self/exe (%s)\n", strerror(error));
        return EXIT_FAILED;
    }
    assert(!folder.empty() && folder[0] == '/'); // the system's link is always absolute
    folder.erase(folder.rfind('/'));
    // The build tree keeps the editor beside the tool; the first editor
    // that exists decides.
    std::string tried = folder + "/kelbo-editor";
    int reason = try_editor(tried, argv);
    if (reason == ENOENT) {
        tried = join(folder, KELBO_EDITOR_FROM_BINDIR);
        reason = try_editor(tried, argv);
    }
    printf("Failed to start the editor: %s (%s)\n", printable(tried).c_str(),
           reason == UNTRUSTED ? "not owned by you or root, or writable by others"
                               : strerror(reason));
    return EXIT_FAILED;
}
