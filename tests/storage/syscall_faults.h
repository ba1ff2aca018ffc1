// Injected system call failures for tests. A test program linked with
// -Wl,--wrap=read sends every read(2) made by its own code (not by the C
// library's internals) through syscall_faults.cpp, where calls behave
// normally until a test arms a fault.
//
//   fail_syscall(Syscall::READ, EIO);      // the next read fails with EIO
//   fail_syscall(Syscall::READ, EIO, 2);   // two pass, the third fails
//   clear_syscall_faults();                // nothing armed any more
#pragma once

enum class Syscall { READ, COUNT };

// After `skip` calls of `call` have passed, the next one fails with
// `error`; the fault is then spent.
void fail_syscall(Syscall call, int error, int skip = 0);
void clear_syscall_faults();
