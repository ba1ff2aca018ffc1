// The editor's launch on POSIX systems: the one place outside storage's
// platform file that asks the system about files, since only here is a
// program run.
#include "editor_launch.h"

#include "../storage/status.h"
#include "exit_status.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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
    const uid_t me = geteuid();
    for (std::string at = path;; at.erase(std::max<size_t>(at.rfind('/'), 1))) {
        struct stat info;
        if (lstat(at.c_str(), &info) != 0) return false;
        const bool root_sticky =
            S_ISDIR(info.st_mode) && info.st_uid == 0 && (info.st_mode & S_ISVTX);
        if ((info.st_uid != 0 && info.st_uid != me) || ((info.st_mode & 022) && !root_sticky))
            return false;
        if (at == "/") return true;
    }
}

// Replaces this process with the editor at `path`, if it exists; returns
// why not (ENOENT when there is none).
int try_editor(const std::string& path, char** argv) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return errno;
    const std::string real = resolved;
    free(resolved);
    if (!trusted(real)) return UNTRUSTED;
    fflush(stdout);
    execv(real.c_str(), argv);
    return errno;
}

} // namespace

int start_editor(int, char** argv) {
    // The folder of the running program, links resolved, so that a link to
    // kelbo-tool from elsewhere still finds the editor.
    char* own = realpath("/proc/self/exe", nullptr);
    if (!own) {
        printf("Failed to start the editor: /proc/self/exe (%s)\n", strerror(errno));
        return EXIT_FAILED;
    }
    std::string folder = own;
    free(own);
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
