// Thin wrappers over system calls: each call is wrapped once, retries
// EINTR, and reports failure as errno in a Result instead of -1 plus a
// global.
//
// NOTE: a call that has a deadline (poll with a timeout, a connect that
// continues in the background) cannot simply be repeated after EINTR; those
// keep their own loop, which recomputes what is left.
#pragma once

#include "internal/result.h"

#include <cerrno>
#include <cstddef>
#include <sys/types.h>

namespace kolm::platform::sys {

// errno of a failed call.
using Errno = int;

template <typename T>
using SysResult = kolm::Result<T, Errno>;

// Calls `call` again while it fails with EINTR; returns its last result
// (errno is left as the call set it). For calls that report failure as -1.
template <typename Call>
auto retry_eintr(Call&& call) -> decltype(call())
{
    for (;;) {
        auto r = call();
        if (!(r == -1 && errno == EINTR))
            return r;
    }
}

SysResult<size_t> read(int fd, void* buf, size_t len);
SysResult<size_t> write(int fd, const void* buf, size_t len);

// A new eventfd counter, non-blocking and close-on-exec.
SysResult<int> eventfd();

// waitpid with EINTR retried; the pid waited for.
SysResult<pid_t> waitpid(pid_t pid, int* status, int options);

// This process's id, without a system call: window handles and the
// registry's stores compare it on every use. A forked child gets its own.
pid_t process_id();
// The calling thread's id, likewise.
pid_t thread_id();

} // namespace kolm::platform::sys
