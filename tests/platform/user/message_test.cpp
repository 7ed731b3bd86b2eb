// Posted messages, message retrieval and dispatch on one thread and across
// threads of the process.
#include "test_support.h"
#include "user_test_util.h"

#include "user/message_queue.h"

#include <future>
#include <thread>

using kolm::test::create;
using kolm::test::MessageLog;
using kolm::test::next_message_within;
using kolm::test::register_class;

namespace {

MessageLog g_log;

LRESULT CALLBACK RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m >= WM_USER)
        g_log.add(h, m, w, l);
    return m >= WM_USER ? static_cast<LRESULT>(w) : DefWindowProcA(h, m, w, l);
}

class MessageTest : public kolm::test::RootedTest {
protected:
    void SetUp() override
    {
        g_log.clear();
        static bool registered = false;
        if (!registered) {
            register_class("Recorder", RecordingProc);
            registered = true;
        }
        // Nothing left over from an earlier test in this thread's queue.
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
};

} // namespace

TEST_F(MessageTest, GetMessageEndsWithQuitAfterThePostedMessages)
{
    HWND h = create("Recorder");
    ASSERT_TRUE(PostMessageA(h, WM_USER + 1, 1, 0));
    PostQuitMessage(42);
    ASSERT_TRUE(PostMessageA(h, WM_USER + 2, 2, 0));
    MSG m;
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(m.hwnd, h);
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 2));
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(m.wParam, 42u);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "WM_QUIT is taken once";
    DestroyWindow(h);
}

TEST_F(MessageTest, FiltersAndBadWindowFilters)
{
    HWND parent = create("Recorder");
    HWND child = create("Recorder", "", WS_CHILD, parent, 1);
    HWND other = create("Recorder");
    PostMessageA(other, WM_USER + 1, 0, 0);
    PostMessageA(child, WM_USER + 2, 0, 0);
    PostMessageA(nullptr, WM_USER + 3, 0, 0);
    PostMessageA(parent, WM_USER + 4, 0, 0);

    MSG m;
    // PM_NOREMOVE leaves the message where it was.
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));

    struct Row {
        const char* name;
        HWND hwnd;
        UINT min, max;
        UINT expected; // 0: nothing
    };
    const Row rows[] = {
        { "window and its children", parent, 0, 0, WM_USER + 2 },
        { "thread messages only", reinterpret_cast<HWND>(-1), 0, 0, WM_USER + 3 },
        { "message range", nullptr, WM_USER + 4, WM_USER + 4, WM_USER + 4 },
        { "range with no match", nullptr, WM_USER + 5, WM_USER + 9, 0 },
        { "the other window", other, 0, 0, WM_USER + 1 },
        { "nothing left for the window", other, 0, 0, 0 },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const BOOL got = PeekMessageA(&m, row.hwnd, row.min, row.max, PM_REMOVE);
        EXPECT_EQ(got != 0, row.expected != 0);
        if (got && row.expected) {
            EXPECT_EQ(m.message, row.expected);
        }
    }
    PostQuitMessage(1);
    EXPECT_FALSE(PeekMessageA(&m, other, 0, 0, PM_REMOVE)) << "WM_QUIT belongs to no window";
    ASSERT_EQ(GetMessageA(&m, nullptr, WM_USER + 5, WM_USER + 9), 0) << "a message range does not hide WM_QUIT";
    EXPECT_EQ(m.wParam, 1u);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetMessageA(&m, DwordToHandle<HWND>(0x4242), 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    kolm::test::WindowThread foreign("Recorder", kolm::test::WindowThread::Mode::Idle);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetMessageA(&m, foreign.hwnd(), 0, 0), -1) << "a window of another thread";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    DestroyWindow(parent);
    DestroyWindow(other);
}

TEST_F(MessageTest, PostingErrors)
{
    HWND h = create("Recorder");
    struct Row {
        UINT message;
        bool postable;
    };
    // Messages whose lParam points at something cannot be posted.
    const Row rows[] = { { WM_SETTEXT, false }, { WM_GETTEXT, false }, { LB_ADDSTRING, false },
                         { WM_CREATE, false }, { WM_CLOSE, true }, { WM_DESTROY, true }, { WM_USER + 7, true } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(PostMessageA(h, row.message, 0, 0) != 0, row.postable);
        if (!row.postable) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
        }
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PostMessageA(DwordToHandle<HWND>(0x4242), WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PostThreadMessageA(0x7FFFFFF0, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));

    // A full queue refuses more, as Windows' does, instead of growing.
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    int posted = 0;
    while (PostMessageA(h, WM_USER, 0, 0) && posted < 20000)
        ++posted;
    EXPECT_EQ(posted, static_cast<int>(kolm::platform::MessageQueue::max_posted));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    DestroyWindow(h);
}

TEST_F(MessageTest, MessagesForADestroyedWindowAreDropped)
{
    HWND gone = create("Recorder");
    HWND stays = create("Recorder");
    PostMessageA(gone, WM_USER + 1, 0, 0);
    PostMessageA(stays, WM_USER + 2, 0, 0);
    DestroyWindow(gone);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.hwnd, stays);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(stays);
}

TEST_F(MessageTest, PostsFromOtherThreadsReachTheOwnerThread)
{
    HWND h = create("Recorder");
    const DWORD me = kolm::platform::current_thread_id();
    std::thread([&] {
        EXPECT_TRUE(PostMessageA(h, WM_USER + 1, 10, 0));
        EXPECT_TRUE(PostThreadMessageA(me, WM_USER + 2, 20, 0));
    }).join();
    MSG m;
    ASSERT_TRUE(next_message_within(m));
    EXPECT_EQ(m.hwnd, h);
    EXPECT_EQ(DispatchMessageA(&m), 10);
    ASSERT_TRUE(next_message_within(m));
    EXPECT_EQ(m.hwnd, nullptr);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 2));
    EXPECT_EQ(m.wParam, 20u);
    EXPECT_EQ(g_log.entries().size(), 1u);
    DestroyWindow(h);
}

TEST_F(MessageTest, SentMessagesAreHandledBeforePostedOnes)
{
    HWND h = create("Recorder");
    auto queue = kolm::platform::current_queue();
    PostMessageA(h, WM_USER + 1, 1, 0);
    queue->waker()->drain();

    // Another thread sends while this one is not reading its queue; the
    // queue's wake-up says when the sent message has arrived.
    std::thread sender([&] { EXPECT_EQ(SendMessageA(h, WM_USER + 2, 2, 0), 2); });
    bool ready = false;
    const int fd = queue->waker()->fd();
    ASSERT_EQ(kolm::platform::poll_readable(&fd, &ready, 1, kolm::platform::Clock::now() + std::chrono::seconds(10)),
              kolm::platform::Ready::Yes);

    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
    DispatchMessageA(&m);
    sender.join();
    std::vector<UINT> order;
    for (auto& e : g_log.entries())
        order.push_back(e.message);
    EXPECT_EQ(order, (std::vector<UINT> { WM_USER + 2, WM_USER + 1 }));
    DestroyWindow(h);
}

TEST_F(MessageTest, DispatchOnlyCallsTimerProceduresThisThreadSet)
{
    static int calls = 0;
    calls = 0;
    struct Local {
        static VOID CALLBACK Proc(HWND, UINT, UINT_PTR, DWORD) { ++calls; }
    };
    HWND h = create("Recorder");
    MSG forged {};
    forged.hwnd = h;
    forged.message = WM_TIMER;
    forged.wParam = 3;
    forged.lParam = reinterpret_cast<LPARAM>(&Local::Proc);
    EXPECT_EQ(DispatchMessageA(&forged), 0);
    EXPECT_EQ(calls, 0) << "a WM_TIMER nobody set must not run code";

    ASSERT_TRUE(SetTimer(h, 3, 10, &Local::Proc));
    EXPECT_EQ(DispatchMessageA(&forged), 0);
    EXPECT_EQ(calls, 1);
    KillTimer(h, 3);

    kolm::test::WindowThread other("Recorder", kolm::test::WindowThread::Mode::Idle);
    MSG for_other {};
    for_other.hwnd = other.hwnd();
    for_other.message = WM_USER;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DispatchMessageA(&for_other), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINDOW_OF_OTHER_THREAD));
    other.release();
    other.join();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DispatchMessageA(&for_other), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE)) << "its thread has ended";
    EXPECT_TRUE(g_log.entries().empty());
    DestroyWindow(h);
}

TEST_F(MessageTest, TranslateMessagePostsCharacters)
{
    HWND h = create("Recorder");
    MSG key {};
    key.hwnd = h;
    key.message = WM_KEYDOWN;
    key.wParam = 'Q';
    EXPECT_TRUE(TranslateMessage(&key));
    key.wParam = VK_SHIFT;
    EXPECT_TRUE(TranslateMessage(&key));
    key.message = WM_USER;
    EXPECT_FALSE(TranslateMessage(&key));
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(m.wParam, static_cast<WPARAM>('q'));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "shift alone makes no character";
    DestroyWindow(h);
}
