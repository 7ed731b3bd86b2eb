#include "kernel/thread.h"

#include <cerrno>
#include <dlfcn.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "kernel/win32_error.h"
#include "win32.h"
#include "internal/system.h"

namespace kolm::platform {

namespace {

size_t whole_pages(size_t size)
{
    const long page = ::sysconf(_SC_PAGESIZE);
    const size_t p = page > 0 ? static_cast<size_t>(page) : 4096;
    return (size + p - 1) / p * p;
}

} // namespace

size_t thread_stack_size(size_t requested)
{
    size_t size = requested == 0 ? kThreadStackDefault : requested;
    if (size < kThreadStackFloor)
        size = kThreadStackFloor;
    if (size < static_cast<size_t>(PTHREAD_STACK_MIN))
        size = PTHREAD_STACK_MIN;
    return whole_pages(size);
}

DWORD ThreadObject::exit_code() const
{
    auto lock = sync_lock();
    return m_finished ? m_exit : STILL_ACTIVE;
}

bool ThreadObject::finished() const
{
    auto lock = sync_lock();
    return m_finished;
}

DWORD ThreadObject::thread_id() const
{
    auto lock = sync_lock();
    return m_id;
}

void ThreadObject::started(DWORD id)
{
    auto lock = sync_lock();
    m_id = id;
    m_started_cv.notify_all();
}

void ThreadObject::finish(DWORD code)
{
    WakeList wakes; // after the lock is released
    auto lock = sync_lock();
    m_exit = code;
    m_finished = true;
    wake_waiters_locked(wakes);
}

DWORD ThreadObject::wait_started()
{
    auto lock = sync_lock();
    m_started_cv.wait(lock, [&] { return m_id != 0; });
    return m_id;
}

namespace {

// NOTE: glibc carves the thread's static TLS and guard page out of the
// stack size it is given, so a thread asking for N bytes gets less. That
// is a few KiB normally, but under ThreadSanitizer the static TLS alone is
// over 700 KiB, more than the whole floor. The reserve is added on top, so
// the size asked for is the size the code can use.
size_t tls_reserve(const pthread_attr_t* attr)
{
    using MinStack = size_t (*)(const pthread_attr_t*);
    static const auto min_stack = reinterpret_cast<MinStack>(::dlsym(RTLD_DEFAULT, "__pthread_get_minstack"));
    if (!min_stack)
        return 0;
    const size_t min = min_stack(attr);
    return min > static_cast<size_t>(PTHREAD_STACK_MIN) ? min - PTHREAD_STACK_MIN : 0;
}

struct StartBlock {
    std::shared_ptr<ThreadObject> self;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

// The exit code ExitThread leaves for the unwinding thread to report.
thread_local DWORD t_exit_code = 0;

// Signals the thread object however the thread ends: by returning from its
// start routine or by ExitThread, which unwinds through here.
struct FinishOnExit {
    std::shared_ptr<ThreadObject> self;
    ~FinishOnExit() { self->finish(t_exit_code); }
};

void* thread_main(void* arg)
{
    std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(arg));
    FinishOnExit finisher{std::move(block->self)};
    finisher.self->started(static_cast<DWORD>(sys::thread_id()));
    const auto start = block->start;
    const auto parameter = block->parameter;
    block.reset();
    t_exit_code = start(parameter);
    return nullptr;
}

} // namespace

} // namespace kolm::platform

using namespace kolm::platform;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (dwCreationFlags & CREATE_SUSPENDED) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    // A reservation flag only changes what the size means on Windows.
    auto self = std::make_shared<ThreadObject>();
    auto handle = insert_handle(self);
    if (!handle) {
        SetLastError(handle.error());
        return nullptr;
    }

    pthread_attr_t attr;
    ::pthread_attr_init(&attr);
    ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int rc = ::pthread_attr_setstacksize(&attr, whole_pages(thread_stack_size(dwStackSize) + tls_reserve(&attr)));
    auto* block = new StartBlock{self, lpStartAddress, lpParameter};
    pthread_t tid;
    if (rc == 0)
        rc = ::pthread_create(&tid, &attr, thread_main, block);
    ::pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete block;
        close_handle(*handle);
        SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : win32_error_from_errno(rc));
        return nullptr;
    }
    // The id is the thread's own, known once it runs: a caller that asks
    // for it waits for that, one that does not can go on at once.
    if (lpThreadId)
        *lpThreadId = self->wait_started();
    return *handle;
}

void ExitThread(DWORD dwExitCode)
{
    t_exit_code = dwExitCode;
    // NOTE: glibc unwinds the thread's stack, so destructors run and the
    // thread object is signalled on the way out.
    ::pthread_exit(nullptr);
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    auto thread = handle_object<ThreadObject>(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpExitCode = thread->exit_code();
    return TRUE;
}

DWORD GetCurrentThreadId()
{
    return static_cast<DWORD>(kolm::platform::sys::thread_id());
}

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(kolm::platform::sys::process_id());
}
