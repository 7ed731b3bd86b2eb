// CreateThread: waitable thread handles, exit codes, ids and stacks.
#include <atomic>
#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

#include "kernel/thread.h"
#include "test_support.h"
#include "win32.h"

namespace {

using kolm::platform::thread_stack_size;

class ThreadTest : public kolm::test::RootedTest {};

DWORD WINAPI wait_then_return_42(LPVOID go)
{
    WaitForSingleObject(static_cast<HANDLE>(go), INFINITE);
    return 42;
}

TEST_F(ThreadTest, HandleSignalledAtExitWithItsExitCode)
{
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE t = CreateThread(nullptr, 0, wait_then_return_42, go, 0, nullptr);
    ASSERT_NE(t, nullptr);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_TIMEOUT);
    SetEvent(go);
    ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
    CloseHandle(t);
    CloseHandle(go);
}

struct SetOnDestroy {
    std::atomic<bool>* flag;
    ~SetOnDestroy() { *flag = true; }
};

std::atomic<bool> g_unwound{false};

[[noreturn]] void leave_from_deep_inside()
{
    ExitThread(7);
}

DWORD WINAPI exits_early(LPVOID)
{
    SetOnDestroy guard{&g_unwound};
    leave_from_deep_inside();
}

TEST_F(ThreadTest, ExitThreadEndsWithItsCodeAndUnwinds)
{
    g_unwound = false;
    HANDLE t = CreateThread(nullptr, 4096, exits_early, nullptr, 0, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(g_unwound) << "destructors on the thread's stack must run";
    CloseHandle(t);
}

DWORD WINAPI report_id(LPVOID out)
{
    *static_cast<DWORD*>(out) = GetCurrentThreadId();
    return 0;
}

TEST_F(ThreadTest, ThreadIdMatchesInsideAndOut)
{
    DWORD inside = 0, outside = 0;
    HANDLE t = CreateThread(nullptr, 0, report_id, &inside, 0, &outside);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    EXPECT_NE(outside, 0u);
    EXPECT_EQ(inside, outside);
    EXPECT_NE(outside, GetCurrentThreadId());
    CloseHandle(t);

    HANDLE no_id = CreateThread(nullptr, 0, report_id, &inside, 0, nullptr);
    ASSERT_NE(no_id, nullptr);
    EXPECT_EQ(WaitForSingleObject(no_id, 10000), WAIT_OBJECT_0);
    CloseHandle(no_id);
}

// The ids are remembered, not asked of the system each time; a forked
// child, which runs on the thread that forked, must still get its own.
TEST_F(ThreadTest, ForkedChildHasIdsOfItsOwn)
{
    const DWORD parent_pid = GetCurrentProcessId();
    const DWORD parent_tid = GetCurrentThreadId();
    ASSERT_EQ(parent_pid, static_cast<DWORD>(::getpid()));
    ASSERT_EQ(parent_tid, static_cast<DWORD>(::gettid()));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool ok = GetCurrentProcessId() == static_cast<DWORD>(::getpid())
            && GetCurrentThreadId() == static_cast<DWORD>(::gettid()) && GetCurrentProcessId() != parent_pid;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child saw its parent's ids";
    EXPECT_EQ(GetCurrentProcessId(), parent_pid);
    EXPECT_EQ(GetCurrentThreadId(), parent_tid);
}

// Needs far more than the 4 KiB the programs ask for: 196 KiB of frames,
// most of the 256 KiB floor.
int __attribute__((noinline)) deep(int depth)
{
    volatile char frame[4096];
    std::memset(const_cast<char*>(frame), depth, sizeof frame);
    return depth == 0 ? frame[100] : frame[200] + deep(depth - 1);
}

DWORD WINAPI needs_a_real_stack(LPVOID)
{
    char name[512];
    wsprintfA(name, "%s %d %08lx", "stack", deep(48), static_cast<DWORD>(0x500));
    return static_cast<DWORD>(std::strlen(name));
}

TEST_F(ThreadTest, TinyStackRequestsGetAWorkingStack)
{
    const int expected = [] {
        int sum = 0;
        for (int d = 1; d <= 48; ++d)
            sum += d;
        return sum;
    }();
    char text[64];
    const DWORD expected_len = static_cast<DWORD>(wsprintfA(text, "stack %d 00000500", expected));
    for (SIZE_T request : {SIZE_T{4096}, SIZE_T{0x500}, SIZE_T{1}, SIZE_T{0}}) {
        SCOPED_TRACE(request);
        HANDLE t = CreateThread(nullptr, request, needs_a_real_stack, nullptr, 0, nullptr);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeThread(t, &code);
        EXPECT_EQ(code, expected_len);
        CloseHandle(t);
    }
}

TEST_F(ThreadTest, StackSizes)
{
    struct Row {
        size_t requested, expected;
    } rows[] = {
        {4096, 256 * 1024},
        {0x500, 256 * 1024},
        {0, 1024 * 1024},
        {256 * 1024 + 1, 256 * 1024 + 4096},
        {2 * 1024 * 1024, 2 * 1024 * 1024},
    };
    for (const auto& r : rows)
        EXPECT_EQ(thread_stack_size(r.requested), r.expected) << "requested " << r.requested;
}

DWORD WINAPI set_when_released(LPVOID events)
{
    auto* h = static_cast<HANDLE*>(events);
    WaitForSingleObject(h[0], INFINITE);
    SetEvent(h[1]);
    return 0;
}

TEST_F(ThreadTest, HandleClosedWhileThreadRuns)
{
    HANDLE events[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    const size_t before = kolm::platform::open_handle_count();
    HANDLE t = CreateThread(nullptr, 0x500, set_when_released, events, 0, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(CloseHandle(t));
    EXPECT_EQ(kolm::platform::open_handle_count(), before);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForSingleObject(events[1], 10000), WAIT_OBJECT_0) << "the thread ran on after its handle closed";
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

TEST_F(ThreadTest, RefusedRequests)
{
    DWORD id = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateThread(nullptr, 0, report_id, &id, CREATE_SUSPENDED, &id), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(id, 0xdeadbeefu) << "no thread ran";
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD code = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
}

} // namespace
