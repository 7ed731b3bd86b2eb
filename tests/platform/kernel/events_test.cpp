// Events and waits: wake-one and wake-all, time-outs, handles that go away.
#include <atomic>
#include <cstdio>
#include <chrono>
#include <thread>
#include <vector>

#include "kernel/sync.h"
#include "test_support.h"
#include "win32.h"

namespace {

using kolm::platform::Event;
using kolm::platform::handle_object;
using kolm::test::wait_until;
using Clock = std::chrono::steady_clock;

class EventTest : public kolm::test::RootedTest {};

// Blocks until n threads are waiting on the event behind h.
bool waiters_in_place(HANDLE h, size_t n)
{
    auto event = handle_object<Event>(h);
    return event && wait_until([&] { return event->blocked_waiters() == n; });
}

size_t blocked(HANDLE h)
{
    return handle_object<Event>(h)->blocked_waiters();
}

struct Waiters {
    std::vector<std::thread> threads;
    std::atomic<int> woken{0};
    std::atomic<int> failures{0};

    void start(HANDLE h, int n)
    {
        for (int i = 0; i < n; ++i) {
            threads.emplace_back([this, h] {
                if (WaitForSingleObject(h, 10000) != WAIT_OBJECT_0)
                    ++failures;
                ++woken;
            });
        }
    }
    ~Waiters()
    {
        for (auto& t : threads)
            t.join();
    }
};

TEST_F(EventTest, InitialStateAndResetKind)
{
    struct Row {
        BOOL manual, initial;
        DWORD first, second; // two zero-time waits in a row
    } rows[] = {
        {FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
        {FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT}, // the first wait resets it
        {TRUE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
        {TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "manual " << r.manual << " initial " << r.initial);
        HANDLE h = CreateEventA(nullptr, r.manual, r.initial, nullptr);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(WaitForSingleObject(h, 0), r.first);
        EXPECT_EQ(WaitForSingleObject(h, 0), r.second);
        ASSERT_TRUE(SetEvent(h));
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
        ASSERT_TRUE(ResetEvent(h));
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(CloseHandle(h));
    }
}

TEST_F(EventTest, HandleValuesFitIn32BitsAndAreNotReused)
{
    HANDLE a = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, FALSE, FALSE, "named");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    for (HANDLE h : {a, b}) {
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_LE(reinterpret_cast<uintptr_t>(h), 0xFFFFFFFFu);
        EXPECT_EQ(DwordToHandle<HANDLE>(HandleToDword(h)), h);
    }
    ASSERT_TRUE(CloseHandle(a));
    HANDLE c = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(c, a) << "a closed handle value came back at once";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetEvent(a));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(b);
    CloseHandle(c);
}

TEST_F(EventTest, BadHandlesFail)
{
    HANDLE closed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
    struct Row {
        const char* what;
        HANDLE h;
    } rows[] = {
        {"null", nullptr},
        {"invalid", INVALID_HANDLE_VALUE},
        {"never issued", DwordToHandle<HANDLE>(0x3FFFFF00)},
        {"misaligned", DwordToHandle<HANDLE>(0x5)},
        {"closed", closed},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(WaitForSingleObject(r.h, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetEvent(r.h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(CloseHandle(r.h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST_F(EventTest, AutoResetWakesExactlyOneWaiterPerSet)
{
    constexpr int kWaiters = 4;
    HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    {
        Waiters w;
        w.start(h, kWaiters);
        ASSERT_TRUE(waiters_in_place(h, kWaiters));
        for (int k = 1; k <= kWaiters; ++k) {
            ASSERT_TRUE(SetEvent(h));
            // The set is handed to one waiter before SetEvent returns.
            EXPECT_EQ(blocked(h), static_cast<size_t>(kWaiters - k)) << "after set " << k;
            ASSERT_TRUE(wait_until([&] { return w.woken == k; })) << "after set " << k;
        }
        EXPECT_EQ(w.failures, 0);
    }
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT) << "each set was taken by its waiter";
    CloseHandle(h);
}

TEST_F(EventTest, ManualResetWakesAllAndStaysSet)
{
    constexpr int kWaiters = 4;
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        Waiters w;
        w.start(h, kWaiters);
        ASSERT_TRUE(waiters_in_place(h, kWaiters));
        ASSERT_TRUE(SetEvent(h));
        EXPECT_EQ(blocked(h), 0u);
        ASSERT_TRUE(wait_until([&] { return w.woken == kWaiters; }));
        EXPECT_EQ(w.failures, 0);
    }
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
    CloseHandle(h);
}

TEST_F(EventTest, TimeOutsReturnOnTime)
{
    HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (DWORD ms : {0u, 1u, 60u}) {
        SCOPED_TRACE(ms);
        const auto start = Clock::now();
        EXPECT_EQ(WaitForSingleObject(h, ms), WAIT_TIMEOUT);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_GE(took.count(), static_cast<long>(ms));
        EXPECT_LT(took.count(), static_cast<long>(ms) + 2000);
    }
    CloseHandle(h);
}

TEST_F(EventTest, InfiniteWaitReleasedByAnotherThread)
{
    HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] { result = WaitForSingleObject(h, INFINITE); });
    ASSERT_TRUE(waiters_in_place(h, 1));
    SetEvent(h);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    CloseHandle(h);
}

// Two threads hand a turn back and forth; one side waits with time-outs
// of a millisecond, and the other now and then takes up to one and a half
// before it answers, so sets keep arriving as waits time out. Every set
// must be taken exactly once: a lost wake-up stalls the other side, a set
// taken twice or dropped breaks the count.
TEST_F(EventTest, SetsRacingTimeOutsAreEachTakenOnce)
{
    constexpr int kTurns = 8000;
    HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> stalls{0};
    int timeouts = 0;
    std::thread other([&] {
        for (int i = 0; i < kTurns; ++i) {
            if (WaitForSingleObject(ping, 10000) != WAIT_OBJECT_0) {
                ++stalls;
                return;
            }
            if (i % 8 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds((i * 7919) % 1500));
            SetEvent(pong);
        }
    });
    int turns = 0;
    for (; turns < kTurns && stalls == 0; ++turns) {
        SetEvent(ping);
        DWORD r;
        const auto start = Clock::now();
        while ((r = WaitForSingleObject(pong, 1)) == WAIT_TIMEOUT && Clock::now() - start < std::chrono::seconds(10))
            ++timeouts;
        if (r != WAIT_OBJECT_0) {
            ++stalls;
            break;
        }
    }
    other.join();
    EXPECT_EQ(stalls, 0);
    EXPECT_EQ(turns, kTurns);
    EXPECT_EQ(WaitForSingleObject(ping, 0), WAIT_TIMEOUT) << "a set left over";
    EXPECT_EQ(WaitForSingleObject(pong, 0), WAIT_TIMEOUT) << "a set left over";
    std::printf("%d turns, %d waits timed out\n", turns, timeouts);
    CloseHandle(ping);
    CloseHandle(pong);
}

TEST_F(EventTest, CloseWhileWaitedOnKeepsTheObjectForTheWaiter)
{
    HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const DWORD ring0 = OpenVxDHandle(h);
    ASSERT_NE(ring0, 0u);
    auto event = handle_object<Event>(h);
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] { result = WaitForSingleObject(h, 10000); });
    ASSERT_TRUE(waiters_in_place(h, 1));
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_FALSE(SetEvent(h));
    // The driver's ring-0 reference still reaches the event.
    kolm::platform::event_from_ring0(ring0)->set();
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_EQ(event->blocked_waiters(), 0u);
    kolm::platform::close_ring0(ring0);
}

TEST_F(EventTest, CloseWhileWaitedOnThenTimeOut)
{
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] { result = WaitForSingleObject(h, 100); });
    ASSERT_TRUE(waiters_in_place(h, 1));
    ASSERT_TRUE(CloseHandle(h));
    waiter.join();
    EXPECT_EQ(result, WAIT_TIMEOUT);
}

class MultipleTest : public kolm::test::RootedTest {
protected:
    void SetUp() override
    {
        for (auto& h : events)
            h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    void TearDown() override
    {
        for (auto h : events)
            CloseHandle(h);
    }
    HANDLE events[3]{};
};

TEST_F(MultipleTest, WaitAnyGivesLowestSignalledIndexAndTakesOnlyIt)
{
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
}

TEST_F(MultipleTest, WaitAllTakesNothingUntilAllAreSet)
{
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] { result = WaitForMultipleObjects(3, events, TRUE, 10000); });
    ASSERT_TRUE(waiters_in_place(events[0], 1));
    SetEvent(events[0]);
    SetEvent(events[1]);
    EXPECT_EQ(blocked(events[0]), 1u) << "a partial wait-all must not take the first events";
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0) << "event 0 was left set";
    SetEvent(events[0]);
    SetEvent(events[2]);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    for (auto h : events)
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT) << "wait-all resets every auto-reset event";
}

TEST_F(MultipleTest, BadArgumentsFail)
{
    HANDLE dup[2] = {events[0], events[0]};
    HANDLE with_bad[2] = {events[0], DwordToHandle<HANDLE>(0x3FFFFF00)};
    struct Row {
        const char* what;
        DWORD count;
        const HANDLE* handles;
        BOOL all;
        DWORD error;
    } rows[] = {
        {"no handles", 0, events, FALSE, ERROR_INVALID_PARAMETER},
        {"more than 64", MAXIMUM_WAIT_OBJECTS + 1, events, FALSE, ERROR_INVALID_PARAMETER},
        {"null array", 1, nullptr, FALSE, ERROR_INVALID_PARAMETER},
        {"duplicate in wait-all", 2, dup, TRUE, ERROR_INVALID_PARAMETER},
        {"bad handle", 2, with_bad, FALSE, ERROR_INVALID_HANDLE},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(WaitForMultipleObjects(r.count, r.handles, r.all, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), r.error);
    }
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, dup, FALSE, 0), WAIT_OBJECT_0) << "duplicates are fine for wait-any";
}

TEST_F(MultipleTest, SixtyFourHandles)
{
    std::vector<HANDLE> many;
    for (int i = 0; i < MAXIMUM_WAIT_OBJECTS; ++i)
        many.push_back(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), TRUE, 0), WAIT_OBJECT_0);
    ResetEvent(many[0]);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
    for (auto h : many)
        CloseHandle(h);
}

} // namespace
