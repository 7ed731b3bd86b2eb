// Window classes, creation and destruction, window data, default procedure.
#include "test_support.h"
#include "user_test_util.h"

#include "user/message_queue.h"
#include "user/window.h"

#include <cstring>
#include <thread>

using kolm::test::create;
using kolm::test::MessageLog;
using kolm::test::register_class;

namespace {

MessageLog g_log;
LRESULT g_nccreate_result = TRUE;
LRESULT g_create_result = 0;
CREATESTRUCTA g_seen_create {};
std::string g_seen_create_name;

LRESULT CALLBACK LoggingProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    switch (m) {
    case WM_NCCREATE:
    case WM_CREATE: {
        g_log.add(h, m);
        g_seen_create = *reinterpret_cast<CREATESTRUCTA*>(l);
        g_seen_create_name = g_seen_create.lpszName ? g_seen_create.lpszName : "";
        if (m == WM_NCCREATE)
            return g_nccreate_result ? DefWindowProcA(h, m, w, l) : FALSE;
        return g_create_result;
    }
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_SHOWWINDOW:
        g_log.add(h, m, w);
        return 0;
    default:
        return DefWindowProcA(h, m, w, l);
    }
}

LRESULT CALLBACK OtherProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_USER)
        return 77;
    return DefWindowProcA(h, m, w, l);
}

class WindowTest : public kolm::test::RootedTest {
protected:
    void SetUp() override
    {
        g_log.clear();
        g_nccreate_result = TRUE;
        g_create_result = 0;
        WNDCLASSA wc {};
        wc.lpfnWndProc = LoggingProc;
        wc.lpszClassName = "LogWin";
        RegisterClassA(&wc); // may already exist from an earlier test
    }
};

} // namespace

TEST_F(WindowTest, CreationSendsNcCreateThenCreateWithTheCreateStruct)
{
    int param = 0;
    HWND h = CreateWindowExA(WS_EX_TOPMOST, "logwin", "Title", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 5,
                             CW_USEDEFAULT, 9, nullptr, nullptr, nullptr, &param);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(g_log.order(), (std::vector<std::pair<HWND, UINT>> { { h, WM_NCCREATE }, { h, WM_CREATE } }));
    EXPECT_EQ(g_seen_create.lpCreateParams, &param);
    EXPECT_EQ(g_seen_create_name, "Title");
    EXPECT_EQ(static_cast<DWORD>(g_seen_create.dwExStyle), static_cast<DWORD>(WS_EX_TOPMOST));
    EXPECT_EQ(static_cast<DWORD>(g_seen_create.style), static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    // CW_USEDEFAULT gives an overlapped window a real place and size.
    EXPECT_GT(g_seen_create.cx, 0);
    EXPECT_GT(g_seen_create.cy, 0);
    EXPECT_NE(g_seen_create.x, CW_USEDEFAULT);

    char buf[16];
    EXPECT_EQ(GetWindowTextA(h, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "Title");
    EXPECT_TRUE(IsWindow(h));
    EXPECT_TRUE(DestroyWindow(h));
    EXPECT_FALSE(IsWindow(h));
}

TEST_F(WindowTest, CreationFailsWhenTheProcedureRefuses)
{
    struct Row {
        const char* name;
        LRESULT nccreate;
        LRESULT create;
        std::vector<UINT> messages;
    };
    const Row rows[] = {
        { "WM_NCCREATE FALSE", FALSE, 0, { WM_NCCREATE, WM_NCDESTROY } },
        { "WM_CREATE -1", TRUE, -1, { WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        g_log.clear();
        g_nccreate_result = row.nccreate;
        g_create_result = row.create;
        EXPECT_EQ(CreateWindowExA(0, "LogWin", "x", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
        std::vector<UINT> seen;
        for (auto& e : g_log.entries())
            seen.push_back(e.message);
        EXPECT_EQ(seen, row.messages);
        ASSERT_FALSE(g_log.entries().empty());
        EXPECT_FALSE(IsWindow(g_log.entries().front().hwnd));
    }
}

TEST_F(WindowTest, DestroySendsDestroyTopDownAndNcDestroyBottomUp)
{
    HWND parent = create("LogWin", "parent");
    HWND a = create("LogWin", "a", WS_CHILD, parent, 1);
    HWND a1 = create("LogWin", "a1", WS_CHILD, a, 2);
    HWND b = create("LogWin", "b", WS_CHILD, parent, 3);
    HWND popup = create("LogWin", "owned", WS_POPUP, parent);
    g_log.clear();

    ASSERT_TRUE(DestroyWindow(parent));
    const std::vector<std::pair<HWND, UINT>> expected {
        { popup, WM_DESTROY }, { popup, WM_NCDESTROY }, // owned windows go first
        { parent, WM_DESTROY }, { a, WM_DESTROY }, { a1, WM_DESTROY }, { b, WM_DESTROY },
        { a1, WM_NCDESTROY }, { a, WM_NCDESTROY }, { b, WM_NCDESTROY }, { parent, WM_NCDESTROY },
    };
    EXPECT_EQ(g_log.order(), expected);
    for (HWND h : { parent, a, a1, b, popup })
        EXPECT_FALSE(IsWindow(h));
}

TEST_F(WindowTest, OnlyTheOwnerThreadDestroysAWindow)
{
    HWND h = create("LogWin", "mine");
    BOOL result = TRUE;
    DWORD error = 0;
    std::thread([&] {
        SetLastError(0xdeadbeef);
        result = DestroyWindow(h);
        error = GetLastError();
    }).join();
    EXPECT_FALSE(result);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(IsWindow(h));
    EXPECT_TRUE(DestroyWindow(h));
}

TEST_F(WindowTest, ClassAndCreationErrors)
{
    WNDCLASSA wc {};
    wc.lpfnWndProc = OtherProc;
    wc.lpszClassName = "LOGWIN"; // same name, other case
    SetLastError(0xdeadbeef);
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    wc.lpfnWndProc = nullptr;
    wc.lpszClassName = "NoProc";
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    struct Row {
        const char* name;
        const char* cls;
        DWORD style;
        DWORD error;
    };
    const Row rows[] = {
        { "unknown class", "NoSuchClass", WS_OVERLAPPED, ERROR_CANNOT_FIND_WND_CLASS },
        { "child without parent", "LogWin", WS_CHILD, ERROR_TLW_WITH_WSCHILD },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(CreateWindowExA(0, row.cls, "", row.style, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
                  nullptr);
        EXPECT_EQ(GetLastError(), row.error);
    }
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateWindowExA(0, "LogWin", "", WS_CHILD, 0, 0, 1, 1, DwordToHandle<HWND>(0x12345), nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    // A class with windows stays; without them it goes.
    register_class("Transient", OtherProc);
    HWND h = create("Transient");
    EXPECT_FALSE(UnregisterClassA("transient", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    DestroyWindow(h);
    EXPECT_TRUE(UnregisterClassA("Transient", nullptr));
    EXPECT_FALSE(UnregisterClassA("Transient", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST_F(WindowTest, WindowLongsAndExtraBytes)
{
    HWND parent = create("LogWin", "p");
    HWND child = create("LogWin", "c", WS_CHILD | WS_VISIBLE, parent, 1234);
    EXPECT_EQ(GetWindowLongA(child, GWL_ID), 1234);
    EXPECT_EQ(GetDlgCtrlID(child), 1234);
    EXPECT_EQ(GetDlgCtrlID(parent), 0);
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_EQ(GetParent(parent), nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(GetWindowLongA(child, GWL_HWNDPARENT), static_cast<LONG>(HandleToDword(parent)));

    struct Row {
        int index;
        LONG value;
    };
    // The class asked for no extra bytes, yet the dialog slots exist.
    const Row rows[] = { { GWL_USERDATA, -5 }, { DWL_MSGRESULT, 11 }, { DWL_USER, 0x12345678 }, { 60, 99 } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(SetWindowLongA(child, row.index, row.value), 0);
        EXPECT_EQ(GetWindowLongA(child, row.index), row.value);
        EXPECT_EQ(SetWindowLongA(child, row.index, 1), row.value);
    }
    for (int bad : { 61, 64, 1000, -3 }) {
        SCOPED_TRACE(bad);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(GetWindowLongA(child, bad), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
    }

    // GWL_WNDPROC swaps the procedure; the old one is still callable.
    register_class("OtherProcClass", OtherProc);
    HWND other = create("OtherProcClass");
    const LONG other_proc = GetWindowLongA(other, GWL_WNDPROC);
    ASSERT_NE(other_proc, 0);
    const LONG old = SetWindowLongA(child, GWL_WNDPROC, other_proc);
    ASSERT_NE(old, 0);
    EXPECT_EQ(SendMessageA(child, WM_USER, 0, 0), 77);
    EXPECT_EQ(CallWindowProcA(reinterpret_cast<WNDPROC>(static_cast<LONG_PTR>(old)), child, WM_GETTEXTLENGTH, 0, 0),
              1);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetWindowLongA(child, GWL_WNDPROC, 0x1234), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DestroyWindow(other);
    DestroyWindow(parent);
}

TEST_F(WindowTest, DefaultProcedureHandlesTextCloseAndEndSession)
{
    HWND h = create("LogWin", "initial");
    EXPECT_EQ(GetWindowTextLengthA(h), 7);
    EXPECT_TRUE(SetWindowTextA(h, "a longer text"));
    EXPECT_EQ(GetWindowTextLengthA(h), 13);

    struct Row {
        int buffer;
        int result;
        const char* text;
    };
    const Row rows[] = { { 1, 0, "" }, { 4, 3, "a l" }, { 14, 13, "a longer text" }, { 64, 13, "a longer text" } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.buffer);
        char buf[80];
        std::memset(buf, 0xbd, sizeof buf);
        EXPECT_EQ(GetWindowTextA(h, buf, row.buffer), row.result);
        EXPECT_STREQ(buf, row.text);
        EXPECT_EQ(static_cast<unsigned char>(buf[row.buffer]), 0xbd) << "wrote past the buffer";
    }
    EXPECT_EQ(SendMessageA(h, WM_GETTEXT, 0, 0), 0);
    EXPECT_TRUE(SetWindowTextA(h, nullptr));
    EXPECT_EQ(GetWindowTextLengthA(h), 0);

    EXPECT_EQ(SendMessageA(h, WM_QUERYENDSESSION, 0, 0), TRUE);
    g_log.clear();
    EXPECT_EQ(SendMessageA(h, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(g_log.order(), (std::vector<std::pair<HWND, UINT>> { { h, WM_DESTROY }, { h, WM_NCDESTROY } }));
}

TEST_F(WindowTest, ShowWindowReportsThePreviousStateAndVisibilityFollowsParents)
{
    HWND parent = create("LogWin", "p");
    HWND child = create("LogWin", "c", WS_CHILD | WS_VISIBLE, parent, 1);
    EXPECT_FALSE(IsWindowVisible(parent));
    EXPECT_FALSE(IsWindowVisible(child)); // its parent is hidden
    g_log.clear();
    EXPECT_FALSE(ShowWindow(parent, SW_SHOWNORMAL));
    EXPECT_TRUE(ShowWindow(parent, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(ShowWindow(parent, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(child));
    // WM_SHOWWINDOW only when the state changes.
    EXPECT_EQ(g_log.entries(), (std::vector<kolm::test::LoggedMessage> { { parent, WM_SHOWWINDOW, TRUE, 0 },
                                                                          { parent, WM_SHOWWINDOW, FALSE, 0 } }));
    EXPECT_TRUE(UpdateWindow(parent));
    DestroyWindow(parent);
    EXPECT_FALSE(UpdateWindow(parent));
}

TEST_F(WindowTest, FindWindowMatchesTopLevelWindowsIgnoringCase)
{
    register_class("FindMe", OtherProc);
    HWND first = create("FindMe", "Alpha");
    HWND second = create("FindMe", "Beta");
    create("FindMe", "Gamma", WS_CHILD, first, 5);
    struct Row {
        const char* cls;
        const char* title;
        HWND expected;
    };
    const Row rows[] = {
        { "findme", "alpha", first }, { nullptr, "BETA", second }, { "FindMe", nullptr, second }, // newest first
        { "FindMe", "Gamma", nullptr }, // a child window
        { "FindMe", "", nullptr }, { "Nope", nullptr, nullptr },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.cls ? row.cls : "NULL") + "/" + (row.title ? row.title : "NULL"));
        EXPECT_EQ(FindWindowA(row.cls, row.title), row.expected);
    }
    DestroyWindow(first);
    DestroyWindow(second);
}

TEST_F(WindowTest, ThreadAndProcessOfAWindow)
{
    HWND mine = create("LogWin", "mine");
    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(mine, &pid), kolm::platform::current_thread_id());
    EXPECT_EQ(pid, kolm::platform::current_process_id());

    DWORD other_tid = 0;
    HWND theirs = nullptr;
    std::thread([&] {
        other_tid = kolm::platform::current_thread_id();
        theirs = create("LogWin", "theirs");
        EXPECT_EQ(GetWindowThreadProcessId(theirs, nullptr), other_tid);
    }).join();
    // The thread has ended, and its windows with it.
    EXPECT_FALSE(IsWindow(theirs));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetWindowThreadProcessId(theirs, &pid), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    DestroyWindow(mine);
}

TEST_F(WindowTest, StockResources)
{
    EXPECT_EQ(LoadIconA(DwordToHandle<HINSTANCE>(0x400000), "kolm32"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, "arrow"), nullptr);
    EXPECT_NE(GetStockObject(WHITE_BRUSH), nullptr);
    EXPECT_NE(GetStockObject(WHITE_BRUSH), GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(GetStockObject(9), nullptr);
    EXPECT_EQ(GetStockObject(1000), nullptr);
}

TEST(HwndCodec, ValuesRoundTripAndAvoidReservedOnes)
{
    using namespace kolm::platform;
    struct Row {
        DWORD pid;
        DWORD index;
        bool valid;
    };
    const Row rows[] = {
        { 1, 1, true }, { 63, 32766, true }, { 65535, 32766, true }, // small form
        { 65536, 1, true }, { 4194303, 510, true },                  // large form
        { 0, 1, false }, { 5, 0, false }, { 5, 32767, false }, { 70000, 511, false }, { 4194304, 1, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.pid) + ":" + std::to_string(row.index));
        const DWORD h = encode_hwnd(row.pid, row.index);
        if (!row.valid) {
            EXPECT_EQ(h, 0u);
            continue;
        }
        ASSERT_NE(h, 0u);
        EXPECT_NE(h, 0xFFFFu);
        EXPECT_NE(h, 0xFFFFFFFFu);
        auto parts = decode_hwnd(h);
        ASSERT_TRUE(parts);
        EXPECT_EQ(parts->pid, row.pid);
        EXPECT_EQ(parts->index, row.index);
    }
    for (DWORD bad : { 0u, 0xFFFFu, 0x7FFFu, 0x80000000u, 0xFFFFFFFFu })
        EXPECT_FALSE(decode_hwnd(bad)) << std::hex << bad;
}

TEST_F(WindowTest, AFreedHandleIsNotHandedOutAgainAtOnce)
{
    HWND first = create("LogWin");
    DestroyWindow(first);
    HWND second = create("LogWin");
    EXPECT_NE(first, second);
    EXPECT_FALSE(IsWindow(first));
    DestroyWindow(second);
}
