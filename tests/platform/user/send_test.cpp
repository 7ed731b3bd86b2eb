// SendMessageA between threads: blocking, early replies, and the waits that
// must keep serving messages sent to the waiting thread.
#include "test_support.h"
#include "user_test_util.h"

#include "user/message_queue.h"

#include <atomic>
#include <future>
#include <thread>

using kolm::test::create;
using kolm::test::WindowThread;

namespace {

constexpr UINT msg_who = WM_USER + 1;          // answers the handling thread's id
constexpr UINT msg_in_send = WM_USER + 2;      // answers InSendMessage()
constexpr UINT msg_reply_early = WM_USER + 3;  // ReplyMessage(wParam), waits for the release
constexpr UINT msg_add = WM_USER + 4;          // wParam + lParam
constexpr UINT msg_relay = WM_USER + 5;        // sends msg_add(5, 6) to the window in wParam, + 100

std::promise<void>* g_release = nullptr;
std::atomic<int> g_after_reply_in_send { -1 };
std::atomic<int> g_second_reply { -1 };

LRESULT CALLBACK SendProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    switch (m) {
    case msg_who:
        return static_cast<LRESULT>(kolm::platform::current_thread_id());
    case msg_in_send:
        return InSendMessage();
    case msg_reply_early: {
        ReplyMessage(static_cast<LRESULT>(w));
        g_after_reply_in_send = InSendMessage();
        g_second_reply = ReplyMessage(5);
        // The sender must already be free: only it releases us.
        const bool released = g_release->get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        return released ? 7 : -7;
    }
    case msg_add:
        return static_cast<LRESULT>(w) + l;
    case msg_relay:
        return SendMessageA(reinterpret_cast<HWND>(w), msg_add, 5, 6) + 100;
    default:
        return DefWindowProcA(h, m, w, l);
    }
}

class SendTest : public kolm::test::RootedTest {
protected:
    void SetUp() override
    {
        static bool registered = false;
        if (!registered) {
            kolm::test::register_class("Sender", SendProc);
            registered = true;
        }
    }
};

} // namespace

TEST_F(SendTest, RunsOnTheOwnerThreadAndReturnsItsResult)
{
    WindowThread owner("Sender");
    EXPECT_EQ(static_cast<DWORD>(SendMessageA(owner.hwnd(), msg_who, 0, 0)), owner.thread_id());
    EXPECT_EQ(SendMessageA(owner.hwnd(), msg_in_send, 0, 0), TRUE);
    EXPECT_EQ(SendMessageA(owner.hwnd(), msg_add, 40, 2), 42);

    // On the owner thread itself, SendMessageA is a plain call.
    HWND mine = create("Sender");
    EXPECT_EQ(static_cast<DWORD>(SendMessageA(mine, msg_who, 0, 0)), kolm::platform::current_thread_id());
    EXPECT_EQ(SendMessageA(mine, msg_in_send, 0, 0), FALSE);
    DestroyWindow(mine);
}

TEST_F(SendTest, ReplyMessageReleasesTheSenderEarly)
{
    std::promise<void> release;
    g_release = &release;
    WindowThread owner("Sender");
    // Were the sender not released by ReplyMessage, the procedure would
    // wait for it and then answer -7.
    EXPECT_EQ(SendMessageA(owner.hwnd(), msg_reply_early, 42, 0), 42);
    release.set_value();
    // The procedure's own return value is dropped; the owner goes on.
    EXPECT_EQ(SendMessageA(owner.hwnd(), msg_add, 1, 1), 2);
    EXPECT_EQ(g_after_reply_in_send.load(), FALSE);
    EXPECT_EQ(g_second_reply.load(), FALSE);
    EXPECT_FALSE(ReplyMessage(1)) << "not inside a sent message";
    owner.join();
    g_release = nullptr;
}

TEST_F(SendTest, AWaitingSenderServesMessagesSentToItsWindows)
{
    HWND mine = create("Sender");
    WindowThread owner("Sender");
    // The owner's procedure sends back to our window while we wait for it.
    EXPECT_EQ(SendMessageA(owner.hwnd(), msg_relay, reinterpret_cast<WPARAM>(mine), 0), 111);
    DestroyWindow(mine);
}

TEST_F(SendTest, TwoThreadsSendingToEachOtherDoNotDeadlock)
{
    std::promise<HWND> a_window, b_window;
    auto a_future = a_window.get_future().share();
    auto b_future = b_window.get_future().share();
    auto run = [](std::promise<HWND>& mine, std::shared_future<HWND> theirs) {
        HWND h = create("Sender");
        mine.set_value(h);
        if (theirs.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
            return LRESULT(-1);
        // Both threads are now inside SendMessageA to each other.
        LRESULT r = SendMessageA(theirs.get(), msg_relay, reinterpret_cast<WPARAM>(h), 0);
        return r;
    };
    auto a = std::async(std::launch::async, run, std::ref(a_window), b_future);
    auto b = std::async(std::launch::async, run, std::ref(b_window), a_future);
    ASSERT_EQ(a.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "deadlock";
    ASSERT_EQ(b.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "deadlock";
    EXPECT_EQ(a.get(), 111);
    EXPECT_EQ(b.get(), 111);
}

TEST_F(SendTest, ASenderBlocksUntilHandledAndGetsZeroWhenTheOwnerEnds)
{
    // The owner never reads its queue and then ends: the pending sender
    // must come back with 0 rather than wait for ever.
    WindowThread owner("Sender", WindowThread::Mode::Idle);
    auto queue = kolm::platform::queue_of_thread(owner.thread_id());
    ASSERT_TRUE(queue);
    queue->waker()->drain();
    std::atomic<bool> returned { false };
    auto sender = std::async(std::launch::async, [&] {
        SetLastError(0);
        LRESULT r = SendMessageA(owner.hwnd(), msg_add, 1, 2);
        returned = true;
        return r;
    });
    // The message has reached the owner's queue...
    bool ready;
    const int fd = queue->waker()->fd();
    ASSERT_EQ(kolm::platform::poll_readable(&fd, &ready, 1, kolm::platform::Clock::now() + std::chrono::seconds(10)),
              kolm::platform::Ready::Yes);
    // ...and the sender is still waiting for it.
    EXPECT_FALSE(returned.load());
    owner.release();
    owner.join();
    ASSERT_EQ(sender.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(sender.get(), 0);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SendMessageA(owner.hwnd(), msg_add, 1, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(SendTest, ManySendersOneOwner)
{
    WindowThread owner("Sender");
    constexpr int senders = 8;
    constexpr int each = 200;
    std::vector<std::future<bool>> results;
    for (int s = 0; s < senders; ++s) {
        results.push_back(std::async(std::launch::async, [&, s] {
            for (int i = 0; i < each; ++i)
                if (SendMessageA(owner.hwnd(), msg_add, static_cast<WPARAM>(s), i) != s + i)
                    return false;
            return true;
        }));
    }
    for (auto& r : results) {
        ASSERT_EQ(r.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        EXPECT_TRUE(r.get());
    }
}
