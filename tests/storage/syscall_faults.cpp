#include "syscall_faults.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
int __real_fsync(int fd);
int __real_renameat(int from_dir, const char* from, int to_dir, const char* to);
int __real_ftruncate(int fd, off_t length);
int __real_openat(int dir, const char* path, int flags, ...);
}

namespace {

struct Fault {
    bool armed;
    int skip;
    int error;
    int signal;                   // raised instead of failing when non-zero
    std::function<void()> action; // run instead of failing when set
};

Fault faults[int(Syscall::COUNT)];
int g_folder_fsyncs = 0;

// True when this call is the one to fail; errno is then set.
bool strikes(Syscall call) {
    Fault& f = faults[int(call)];
    if (!f.armed) return false;
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    f.armed = false;
    if (f.action) {
        std::function<void()> action = std::move(f.action);
        f.action = nullptr;
        action();
        return false;
    }
    if (f.signal) {
        raise(f.signal);
        return false;
    }
    errno = f.error;
    return true;
}

} // namespace

void fail_syscall(Syscall call, int error, int skip) {
    faults[int(call)] = {true, skip, error, 0, nullptr};
}

void signal_at_syscall(Syscall call, int signal) {
    faults[int(call)] = {true, 0, 0, signal, nullptr};
}

void act_at_syscall(Syscall call, std::function<void()> action, int skip) {
    faults[int(call)] = {true, skip, 0, 0, std::move(action)};
}

void clear_syscall_faults() {
    for (Fault& f : faults) f = {};
    g_folder_fsyncs = 0;
}

int folder_fsyncs() { return g_folder_fsyncs; }

extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (strikes(Syscall::READ)) return -1;
    return __real_read(fd, buffer, count);
}

extern "C" int __wrap_fsync(int fd) {
    if (strikes(Syscall::FSYNC)) return -1;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) ++g_folder_fsyncs;
    return __real_fsync(fd);
}

extern "C" int __wrap_renameat(int from_dir, const char* from, int to_dir, const char* to) {
    if (strikes(Syscall::RENAMEAT)) return -1;
    return __real_renameat(from_dir, from, to_dir, to);
}

extern "C" int __wrap_ftruncate(int fd, off_t length) {
    if (strikes(Syscall::FTRUNCATE)) return -1;
    return __real_ftruncate(fd, length);
}

extern "C" int __wrap_openat(int dir, const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = mode_t(va_arg(args, int));
        va_end(args);
    }
    if ((flags & O_TMPFILE) == O_TMPFILE && strikes(Syscall::OPENAT)) return -1;
    if ((flags & O_ACCMODE) == O_RDWR && !(flags & (O_CREAT | O_TMPFILE)) &&
        strikes(Syscall::OPENAT_RDWR))
        return -1;
    return __real_openat(dir, path, flags, mode);
}
