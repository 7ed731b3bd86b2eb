// Timers: WM_TIMER generation, re-arming, killing, and the one-pending rule.
#include "test_support.h"
#include "user_test_util.h"

#include "user/timer_set.h"

#include <ctime>

using kolm::test::create;
using kolm::test::next_message_within;

namespace {

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    return DefWindowProcA(h, m, w, l);
}

class TimerTest : public kolm::test::RootedTest {
protected:
    void SetUp() override
    {
        static bool registered = false;
        if (!registered) {
            kolm::test::register_class("Timed", PlainProc);
            registered = true;
        }
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
        h = create("Timed");
    }
    void TearDown() override { DestroyWindow(h); }

    // The id of the next WM_TIMER for the window.
    UINT_PTR next_timer()
    {
        MSG m;
        for (;;) {
            if (!next_message_within(m, nullptr, std::chrono::seconds(20)))
                return 0;
            if (m.message == WM_TIMER && m.hwnd == h)
                return m.wParam;
        }
    }

    HWND h = nullptr;
};

} // namespace

TEST_F(TimerTest, FiresAfterItsPeriod)
{
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SetTimer(h, 5, 30, nullptr), 5u);
    EXPECT_EQ(next_timer(), 5u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));
    // It keeps firing.
    EXPECT_EQ(next_timer(), 5u);
    EXPECT_TRUE(KillTimer(h, 5));
}

TEST_F(TimerTest, SettingTheSameIdReArmsIt)
{
    // Shortened: the new period counts.
    SetTimer(h, 1, 60000, nullptr);
    SetTimer(h, 2, 5000, nullptr);
    SetTimer(h, 1, 20, nullptr);
    EXPECT_EQ(next_timer(), 1u);
    // Lengthened: the old, short deadline no longer counts.
    SetTimer(h, 1, 60000, nullptr);
    SetTimer(h, 2, 100, nullptr);
    EXPECT_EQ(next_timer(), 2u);
    KillTimer(h, 1);
    KillTimer(h, 2);
}

TEST_F(TimerTest, KillTimerStopsIt)
{
    SetTimer(h, 1, 20, nullptr);
    SetTimer(h, 2, 150, nullptr);
    EXPECT_TRUE(KillTimer(h, 1));
    EXPECT_EQ(next_timer(), 2u);
    KillTimer(h, 2);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(KillTimer(h, 1));
    EXPECT_FALSE(KillTimer(h, 99));
    // A destroyed window's timers go with it.
    HWND other = create("Timed");
    SetTimer(other, 1, 10, nullptr);
    DestroyWindow(other);
    SetTimer(h, 3, 100, nullptr);
    EXPECT_EQ(next_timer(), 3u);
    KillTimer(h, 3);
}

TEST_F(TimerTest, AtMostOneWmTimerIsPendingPerTimer)
{
    HWND clock = create("Timed");
    SetTimer(h, 1, 10, nullptr);
    SetTimer(clock, 9, 150, nullptr);
    // Read only the clock window's messages while the fast timer comes due
    // about fifteen times.
    MSG m;
    ASSERT_TRUE(next_message_within(m, clock, std::chrono::seconds(20)));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(m.wParam, 9u);

    // PM_NOREMOVE leaves it pending; removing it re-arms the timer.
    ASSERT_TRUE(PeekMessageA(&m, h, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
    ASSERT_TRUE(PeekMessageA(&m, h, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
    EXPECT_FALSE(PeekMessageA(&m, h, 0, 0, PM_REMOVE)) << "a second WM_TIMER was pending";
    KillTimer(h, 1);
    KillTimer(clock, 9);
    DestroyWindow(clock);
}

TEST_F(TimerTest, AWaitFilteredOnOneWindowDoesNotSpinOnAnothersTimer)
{
    HWND clock = create("Timed");
    SetTimer(h, 1, 10, nullptr); // due long before the clock, and filtered out
    SetTimer(clock, 9, 200, nullptr);
    timespec before {}, after {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    MSG m;
    ASSERT_TRUE(next_message_within(m, clock, std::chrono::seconds(20)));
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    EXPECT_EQ(m.wParam, 9u);
    const double cpu_ms = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
    EXPECT_LT(cpu_ms, 100.0) << "the wait burnt the processor";
    KillTimer(h, 1);
    KillTimer(clock, 9);
    DestroyWindow(clock);
}

TEST_F(TimerTest, ThreadTimersGetTheirOwnIdsAndProcedures)
{
    static std::vector<UINT_PTR> calls;
    calls.clear();
    struct Local {
        static VOID CALLBACK Proc(HWND hwnd, UINT msg, UINT_PTR id, DWORD)
        {
            if (!hwnd && msg == WM_TIMER)
                calls.push_back(id);
        }
    };
    const UINT_PTR a = SetTimer(nullptr, 0, 20, &Local::Proc);
    const UINT_PTR b = SetTimer(nullptr, 0, 60000, nullptr);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    // Naming an existing thread timer re-arms it rather than making another.
    EXPECT_EQ(SetTimer(nullptr, a, 20, &Local::Proc), a);
    MSG m;
    ASSERT_TRUE(next_message_within(m, nullptr, std::chrono::seconds(20)));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(m.hwnd, nullptr);
    EXPECT_EQ(m.wParam, a);
    DispatchMessageA(&m);
    EXPECT_EQ(calls, std::vector<UINT_PTR> { a });
    KillTimer(nullptr, a);
    KillTimer(nullptr, b);
}

TEST(TimerSet, HeapStaysSmallUnderReArming)
{
    using namespace kolm::platform;
    TimerSet timers;
    const auto now = Clock::now();
    for (int i = 0; i < 100000; ++i)
        timers.set(0x100, 1, 1000, nullptr, now);
    EXPECT_EQ(timers.size(), 1u);
    EXPECT_LE(timers.heap_entries(), 20u);
    auto due = timers.next_due();
    ASSERT_TRUE(due);
    EXPECT_EQ(*due, now + std::chrono::milliseconds(1000));
    auto accept_all = [](DWORD) { return true; };
    EXPECT_FALSE(timers.take_due(now, accept_all, true));
    auto fired = timers.take_due(now + std::chrono::seconds(1), accept_all, true);
    ASSERT_TRUE(fired);
    EXPECT_EQ(fired->id, 1u);
    EXPECT_EQ(*timers.next_due(), now + std::chrono::seconds(2));
}
