// GetTickCount and Sleep, including Sleep under a stream of signals.
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <unistd.h>

#include "test_support.h"
#include "win32.h"

namespace {

using Clock = std::chrono::steady_clock;

class TimeTest : public kolm::test::RootedTest {};

long ms_since(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST_F(TimeTest, TickCountFollowsTheMonotonicClock)
{
    const auto start = Clock::now();
    const DWORD t0 = GetTickCount();
    Sleep(30);
    const DWORD elapsed = GetTickCount() - t0; // unsigned: right across a wrap too
    EXPECT_GE(elapsed, 29u);
    EXPECT_LE(static_cast<long>(elapsed), ms_since(start) + 1);
}

std::atomic<int> g_signals{0};
void count_signal(int)
{
    ++g_signals;
}

// Signals interrupt the sleep every 3 ms; it must still last the whole time.
TEST_F(TimeTest, SleepLastsThroughSignals)
{
    struct sigaction action{}, old{};
    action.sa_handler = count_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the sleep sees EINTR
    ASSERT_EQ(::sigaction(SIGUSR2, &action, &old), 0);

    sigevent ev{};
    ev.sigev_notify = SIGEV_THREAD_ID;
    ev.sigev_signo = SIGUSR2;
    ev._sigev_un._tid = ::gettid();
    timer_t timer;
    ASSERT_EQ(::timer_create(CLOCK_MONOTONIC, &ev, &timer), 0);
    itimerspec every{{0, 3000000}, {0, 3000000}};
    ASSERT_EQ(::timer_settime(timer, 0, &every, nullptr), 0);

    g_signals = 0;
    const auto start = Clock::now();
    Sleep(100);
    const long took = ms_since(start);

    ::timer_delete(timer);
    ::sigaction(SIGUSR2, &old, nullptr);
    EXPECT_GT(g_signals.load(), 0) << "the timer never interrupted the sleep";
    EXPECT_GE(took, 100);
    EXPECT_LT(took, 3000);
}

} // namespace
