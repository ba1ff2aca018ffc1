// Injected system call faults for tests. A test program linked with
// -Wl,--wrap=read,--wrap=fsync,--wrap=renameat,--wrap=ftruncate,--wrap=openat
// sends those calls made by its own code (not by the C library's internals)
// through syscall_faults.cpp, where they behave normally until a test arms a
// fault.
//
//   fail_syscall(Syscall::READ, EIO);          // the next read fails with EIO
//   fail_syscall(Syscall::READ, EIO, 2);       // two pass, the third fails
//   signal_at_syscall(Syscall::FSYNC, SIGTERM); // the next fsync raises it first
//   act_at_syscall(Syscall::READ, swap, 1);    // the second read runs swap() first
//   clear_syscall_faults();                    // nothing armed any more
#pragma once

#include <functional>

// OPENAT faults only an O_TMPFILE open: the one openat a save makes;
// OPENAT_RDWR only a read-write open of an existing file, as a path's walk
// ends with.
enum class Syscall { READ, FSYNC, RENAMEAT, FTRUNCATE, OPENAT, OPENAT_RDWR, COUNT };

// After `skip` calls of `call` have passed, the next one fails with
// `error`; the fault is then spent.
void fail_syscall(Syscall call, int error, int skip = 0);
// The next call of `call` raises `signal` before going ahead.
void signal_at_syscall(Syscall call, int signal);
// After `skip` calls of `call` have passed, the next one first runs
// `action` (a test swaps a name there), then goes ahead.
void act_at_syscall(Syscall call, std::function<void()> action, int skip = 0);
void clear_syscall_faults();
// fsync calls made on a folder since the faults were last cleared.
int folder_fsyncs();
