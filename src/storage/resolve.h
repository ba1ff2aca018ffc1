// Files resolved once. A file the program saves has its path walked a name
// at a time, symbolic links followed, and its folder and the file itself
// opened; every later read, lock, check and write goes through those
// descriptors, so that a name someone changes afterwards never redirects a
// save. In a sticky folder anyone may write (such as /tmp), a link is
// followed only when it belongs to us or to the folder's owner; another
// user's link there is refused with EACCES, whatever the kernel's own
// setting (fs.protected_symlinks).
//
//   FileHandle file;
//   open_file(path, file);
//   if (!file.dir.valid()) ...            // file.error says why
//   else if (!file.fd.valid()) ...        // no such file yet: a save creates it
//   // The descriptors close with the handle.
#pragma once

#include "platform.h"

#include <string>

struct FileHandle {
    Fd dir;                   // the folder holding the file; invalid when resolving failed
    Fd fd;                    // the file (read-write where allowed); invalid when it does not exist
    int error = 0;            // why resolving failed, or why the file could not be opened
    int write_error = 0;      // why fd is not open for writing; 0 when it is
    bool readable = true;     // false when fd could be opened for writing only
    bool not_regular = false; // the path names a folder, a device or the like
    std::string name;         // the file's name in `dir`
    std::string folder;       // `dir` as a path, for messages
    std::string shown;        // the path as given, for messages
};

// Resolves `path` (a relative one from the folder `base`, default the
// current one) and opens its folder and the file. A missing file is no
// failure: fd stays invalid and a save creates it, but only where the path
// itself names it, not at the end of a dangling link. Any other failure
// leaves dir invalid and `error` set. `entry`, when given, receives the
// folder that holds the path's own last name, before a link there is
// followed. Messages show `shown` (default: `path`).
void open_file(const char* path, FileHandle& file, const Fd* base = nullptr,
               const char* shown = nullptr, Fd* entry = nullptr);
// The last name of `path`, as a caption shows it and a file beside it is
// named after it.
std::string last_name(const std::string& path);
