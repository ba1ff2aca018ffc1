#include "syscall_faults.h"

#include <cerrno>
#include <cstddef>
#include <sys/types.h>

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);

namespace {

struct Fault {
    bool armed;
    int skip;
    int error;
};

Fault faults[int(Syscall::COUNT)];

// True when this call is the one to fail; errno is then set.
bool strikes(Syscall call) {
    Fault& f = faults[int(call)];
    if (!f.armed) return false;
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    f.armed = false;
    errno = f.error;
    return true;
}

} // namespace

void fail_syscall(Syscall call, int error, int skip) { faults[int(call)] = {true, skip, error}; }

void clear_syscall_faults() {
    for (Fault& f : faults) f = {};
}

extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (strikes(Syscall::READ)) return -1;
    return __real_read(fd, buffer, count);
}
