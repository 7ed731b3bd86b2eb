// A thread's held work is done once, on that thread, before it waits or
// when it ends; a target that is gone is skipped.
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "internal/thread_plug.h"
#include "win32.h"

namespace {

namespace sys = kolm::platform::sys;

class Held final : public sys::Pluggable {
public:
    explicit Held(std::function<void()> work = {}) : m_work(std::move(work)) {}
    void unplug() override
    {
        ++runs;
        ran_on = std::this_thread::get_id();
        if (m_work)
            m_work();
    }
    int runs = 0;
    std::thread::id ran_on;

private:
    std::function<void()> m_work;
};

TEST(ThreadPlug, HeldWorkIsDoneOnceWhateverTheNumberOfUnplugs)
{
    auto a = std::make_shared<Held>();
    sys::plug(a);
    sys::plug(a); // the same plug again: still one piece of work
    EXPECT_EQ(a->runs, 0) << "plugging does the work only later";
    sys::unplug();
    sys::unplug();
    EXPECT_EQ(a->runs, 1);
}

TEST(ThreadPlug, AnotherTargetUnplugsTheFirstOneBeforeTakingItsPlace)
{
    auto a = std::make_shared<Held>();
    auto b = std::make_shared<Held>();
    sys::plug(a);
    sys::plug(b);
    EXPECT_EQ(a->runs, 1) << "a thread holds one plug: the first is done when a second comes";
    EXPECT_EQ(b->runs, 0);
    sys::unplug();
    EXPECT_EQ(a->runs, 1);
    EXPECT_EQ(b->runs, 1);
}

TEST(ThreadPlug, ATargetThatIsGoneIsSkipped)
{
    auto a = std::make_shared<Held>();
    sys::plug(a);
    a.reset();
    sys::unplug(); // must not touch what is gone
    auto b = std::make_shared<Held>();
    sys::plug(b);
    sys::unplug();
    EXPECT_EQ(b->runs, 1) << "the stale plug left nothing behind";
}

TEST(ThreadPlug, WorkThatWaitsAgainDoesNotRunTwice)
{
    // Held work may itself reach a wait (a write that blocks, a lock): the
    // plug is cleared before the work runs, so the wait inside does not
    // start it again.
    auto a = std::make_shared<Held>([] { Sleep(1); });
    sys::plug(a);
    sys::unplug();
    EXPECT_EQ(a->runs, 1);
}

TEST(ThreadPlug, AThreadDoesItsHeldWorkBeforeItSleepsOnAnEvent)
{
    // The held work is what sets the event: if the wait slept first, it
    // would sleep for its whole time-out.
    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(done, nullptr);
    auto a = std::make_shared<Held>([done] { SetEvent(done); });
    sys::plug(a);
    const DWORD start = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(a->runs, 1);
    CloseHandle(done);
}

TEST(ThreadPlug, SleepAndTheEndOfAThreadDoTheHeldWork)
{
    auto a = std::make_shared<Held>();
    sys::plug(a);
    Sleep(1);
    EXPECT_EQ(a->runs, 1);

    auto b = std::make_shared<Held>();
    std::thread::id worker;
    std::thread t([&] {
        worker = std::this_thread::get_id();
        sys::plug(b);
    });
    t.join();
    EXPECT_EQ(b->runs, 1) << "a thread that ends without waiting again still does its work";
    EXPECT_EQ(b->ran_on, worker) << "on its own thread";
}

} // namespace
