// How a process ends: ExitProcess runs the process-end handlers newest
// first, hands over buffered output, and ends with the code it was given
// without running static destructors, while other threads still run. A
// process that ends through exit() runs the handlers too, and threads that
// still use the kernel's objects then find them intact.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include "kernel/process_exit.h"
#include "win32.h"

namespace {

using kolm::platform::at_process_exit;

void first_handler()
{
    std::fputs("handler 1\n", stderr);
}

void second_handler()
{
    std::fputs("handler 2\n", stderr);
}

// Changes the exit code if its destructor runs.
struct ExitsIfDestroyed {
    ~ExitsIfDestroyed() { ::_exit(99); }
};

// A thread that is still there when the process ends.
void leave_a_thread_running()
{
    std::thread([] {
        for (;;)
            ::pause();
    }).detach();
}

[[noreturn]] void end_through_exit_process(UINT code)
{
    static ExitsIfDestroyed guard;
    (void)guard;
    at_process_exit(first_handler);
    at_process_exit(second_handler);
    leave_a_thread_running();
    // A stream of our own, fully buffered: its text stays in the buffer
    // until something flushes it.
    FILE* out = ::fdopen(::dup(STDERR_FILENO), "w");
    std::setvbuf(out, nullptr, _IOFBF, BUFSIZ);
    std::fputs("buffered output\n", out);
    ExitProcess(code);
}

class ProcessExit : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ProcessExit, ExitProcessRunsHandlersFlushesAndKeepsItsCode)
{
    struct Row {
        UINT code;
        int status; // what the parent sees: the low 8 bits
    } rows[] = {{0, 0}, {7, 7}, {255, 255}, {0x107, 7}};
    for (const auto& r : rows) {
        EXPECT_EXIT(end_through_exit_process(r.code), ::testing::ExitedWithCode(r.status),
                    "handler 2.*handler 1.*buffered output")
            << "code " << r.code;
    }
}

TEST_F(ProcessExit, ExitRunsTheHandlersWhileThreadsStillUseKernelObjects)
{
    const auto end = [] {
        at_process_exit(first_handler);
        std::atomic<bool> busy{false};
        std::thread([&busy] {
            for (;;) {
                HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
                SetEvent(e);
                CloseHandle(e);
                busy.store(true);
            }
        }).detach();
        while (!busy.load()) {
        }
        std::exit(3);
    };
    EXPECT_EXIT(end(), ::testing::ExitedWithCode(3), "handler 1");
}

TEST(ProcessExitHandlers, AreRefusedPastTheLimit)
{
    // Run in a child: the handlers registered here must not run in this
    // test process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto fill = [] {
        int taken = 0;
        while (at_process_exit(first_handler) && taken < 100)
            ++taken;
        std::fprintf(stderr, "taken %d\n", taken);
        ::_exit(0);
    };
    EXPECT_EXIT(fill(), ::testing::ExitedWithCode(0), "taken 16");
}

} // namespace
