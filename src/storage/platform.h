// The one seam between the program and the system's files: every call the
// path walk, the lock, the safe writes and the readers make goes through
// these functions, so that another system is one more file beside
// platform_posix.cpp.
//
// Every function that can fail returns 0 or the errno of the failure, and
// leaves its outputs alone on failure. A name is one name inside a folder;
// with a null folder (the current one) it may be a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32 // errors the Windows C library does not name
#include <cerrno>
#ifndef ESTALE
#define ESTALE 1116
#endif
#ifndef EDQUOT
#define EDQUOT 1122
#endif
#endif

// Owns a descriptor: closed when it goes, moved but never copied.
struct Fd {
    intptr_t value = -1;
    Fd() = default;
    explicit Fd(intptr_t v) : value(v) {}
    Fd(Fd&& other) noexcept : value(other.value) { other.value = -1; }
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset();
        std::swap(value, other.value);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    bool valid() const { return value >= 0; }
    void reset();
};

// Not an errno: a path that names a folder, a device or the like where a
// regular file was wanted.
constexpr int NOT_REGULAR = -1;
// Not an errno either: a file another user put where only ours may be.
constexpr int NOT_OURS = -2;

// What separates the names of a path, and what ends a line of a text file
// the program writes.
extern const char OS_SEPARATORS[];
extern const char OS_LINE_END[];
// The longest name a folder takes, in bytes (255 on Linux's file systems;
// 255 UTF-16 units on Windows', which UTF-8 may make longer).
constexpr size_t OS_NAME_MAX = 255;
// How many leading bytes of `path` name the root it starts from; 0 for a
// relative path.
size_t os_root_length(const std::string& path);

enum FileKind { KIND_REGULAR, KIND_FOLDER, KIND_LINK, KIND_OTHER };

struct FileInfo {
    FileKind kind = KIND_OTHER;
    uint32_t mode = 0; // permission bits, sticky bit included
    uint32_t owner = 0, group = 0;
    uint64_t device = 0, inode = 0, size = 0, links = 0;
    int64_t modified_s = 0, modified_ns = 0;
};

struct FilePiece {
    const uint8_t* data;
    size_t length;
};

enum OpenHow {
    OPEN_NAME,       // what the name is, a link not followed, nothing read (".": the folder)
    OPEN_FOLDER,     // a folder, to list and flush (".": the folder itself)
    OPEN_READ,       // an existing file, a link not followed, never blocking
    OPEN_READ_PATH,  // a path to read, links followed, never blocking
    OPEN_WRITE,      // the same, for writing only
    OPEN_READ_WRITE, // the same, for both
    OPEN_NEW,        // a new file, never an existing name, mode 0600
    OPEN_UNNAMED,    // a new file without a name in the folder (name "."), mode 0600
};

int os_open(const Fd* folder, const std::string& name, OpenHow how, Fd& out);
// Whether the descriptor only passes through a folder: such a folder can
// be neither listed nor flushed.
bool os_path_only(const Fd& fd);
int os_stat(const Fd& fd, FileInfo& out);
// The name in the folder itself: a link is not followed.
int os_stat_at(const Fd& folder, const std::string& name, FileInfo& out);
// The target of a link opened with OPEN_NAME.
int os_read_link(const Fd& link, std::string& target);
int os_list(const Fd& folder, std::vector<std::string>& names);

// Reads from the current offset until `length` bytes or the end.
int os_read(const Fd& fd, uint8_t* data, size_t length, size_t& got);
int os_rewind(const Fd& fd);
// Writes the pieces in order from the start of the file.
int os_write_pieces(const Fd& fd, const FilePiece* pieces, size_t count);
// Cuts the file to `size` bytes.
int os_truncate(const Fd& fd, uint64_t size);
// While held, the signals that end a program wait (a write that must not
// be cut short).
struct EndingsHeld {
    alignas(8) unsigned char saved[128];
};
void os_hold_endings(EndingsHeld& held);
void os_release_endings(const EndingsHeld& held);
// Flushes a file, or a folder's names; a folder that cannot be flushed
// counts as flushed.
int os_flush(const Fd& fd);
// Reserves `size` bytes without changing the file's length.
int os_reserve(const Fd& fd, uint64_t size);
// Whether a file of `size` bytes is beyond what this process may write.
bool os_over_size_limit(uint64_t size);

// Renames `from`, open as `from_fd`, over `to` in the folder, open as
// `to_fd` (invalid for a new name). Afterwards `from_fd` holds the file now
// named `to`, locked as before; `to_fd` may have been closed.
int os_rename_over(const Fd& folder, const std::string& from, Fd& from_fd, const std::string& to,
                   Fd& to_fd);
// Gives the file `from` the name `to` too; EEXIST when `to` exists.
int os_link(const Fd& folder, const std::string& from, const std::string& to);
// The same for a file opened with OPEN_UNNAMED.
int os_link_unnamed(const Fd& file, const Fd& folder, const std::string& to);
int os_unlink(const Fd& folder, const std::string& name);
// A new folder; EEXIST when the name is taken.
int os_make_folder(const Fd* folder, const std::string& name, uint32_t mode);

// Gives `to` the owner, group, ACL, extended attributes and mode of `from`
// (`name` is from's name, for the libraries' messages).
int os_copy_identity(const Fd& from, const std::string& name, const Fd& to);
int os_set_mode(const Fd& fd, uint32_t mode);
// The mode a new file takes: 0666 less the umask.
uint32_t os_new_file_mode();
uint32_t os_user();
// The folder for the caller's own state ($XDG_STATE_HOME, else
// ~/.local/state); "" when the system names none.
std::string os_state_folder();

// An exclusive advisory lock; EWOULDBLOCK while someone else holds it.
int os_try_lock(const Fd& fd);
void os_unlock(const Fd& fd);
// The process holding a lock on the file, 0 when the system does not say.
long os_lock_holder(const Fd& fd);
void os_sleep_ms(long ms);

// `count` unpredictable bytes; false when the system has none to give.
bool os_random(uint8_t* bytes, size_t count);
// The path of an open folder, from the root.
int os_folder_path(const Fd& folder, std::string& out);
