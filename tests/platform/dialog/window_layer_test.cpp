// The window functions dialogs stand on: position and size, stacking and
// the topmost flag, enabling, and per-thread activation and focus.
#include "dialog_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <future>

using namespace kolm::test;

namespace {

struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    bool operator==(const Seen&) const = default;
};
std::vector<Seen> g_seen;

bool recorded(UINT m)
{
    switch (m) {
    case WM_MOVE:
    case WM_SIZE:
    case WM_ENABLE:
    case WM_ACTIVATE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (recorded(m))
        g_seen.push_back({ h, m, w, l });
    return DefWindowProcA(h, m, w, l);
}

class WindowLayer : public RootedTest {
protected:
    void SetUp() override
    {
        WNDCLASSA wc {};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "LayerTest";
        RegisterClassA(&wc);
        g_seen.clear();
    }
    void TearDown() override
    {
        for (HWND h : m_made)
            if (IsWindow(h))
                DestroyWindow(h);
    }
    HWND make(const char* title, DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr, int id = 0)
    {
        HWND h = CreateWindowExA(0, "LayerTest", title, style, 100, 50, 300, 200, parent,
                                 reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
        m_made.push_back(h);
        return h;
    }
    std::vector<HWND> m_made;
};

TEST_F(WindowLayer, SetWindowPosMovesAndSizesAsItsFlagsSay)
{
    HWND w = make("Pos");
    struct Row {
        const char* what;
        int x, y, cx, cy;
        UINT flags;
        RECT want;
        std::vector<UINT> messages;
    };
    const Row rows[] = {
        { "nothing", 1, 2, 3, 4, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER, { 100, 50, 400, 250 }, {} },
        { "move", 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER, { 10, 20, 310, 220 }, { WM_MOVE } },
        { "size", 0, 0, 50, 60, SWP_NOMOVE | SWP_NOZORDER, { 10, 20, 60, 80 }, { WM_SIZE } },
        { "the same again", 10, 20, 50, 60, SWP_NOZORDER, { 10, 20, 60, 80 }, {} },
        { "both", 0, 0, 100, 100, SWP_NOZORDER, { 0, 0, 100, 100 }, { WM_MOVE, WM_SIZE } },
        { "negative size", 0, 0, -5, -5, SWP_NOMOVE | SWP_NOZORDER, { 0, 0, 0, 0 }, { WM_SIZE } },
    };
    for (const auto& r : rows) {
        g_seen.clear();
        ASSERT_TRUE(SetWindowPos(w, nullptr, r.x, r.y, r.cx, r.cy, r.flags | SWP_NOACTIVATE)) << r.what;
        RECT got;
        ASSERT_TRUE(GetWindowRect(w, &got));
        EXPECT_EQ(got.left, r.want.left) << r.what;
        EXPECT_EQ(got.top, r.want.top) << r.what;
        EXPECT_EQ(got.right, r.want.right) << r.what;
        EXPECT_EQ(got.bottom, r.want.bottom) << r.what;
        std::vector<UINT> messages;
        for (const auto& s : g_seen)
            messages.push_back(s.message);
        EXPECT_EQ(messages, r.messages) << r.what;
    }
    // WM_MOVE carries the client area's origin, WM_SIZE its size: a sizing
    // frame of 4 and a caption of 18 around it.
    g_seen.clear();
    MoveWindow(w, 10, 20, 108, 126, TRUE);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].lparam, MAKELPARAM(14, 42));
    EXPECT_EQ(g_seen[1].lparam, MAKELPARAM(100, 100));
    RECT c;
    ASSERT_TRUE(GetClientRect(w, &c));
    EXPECT_EQ(c.right, 100);
    EXPECT_EQ(c.bottom, 100);
}

TEST_F(WindowLayer, StackingKeepsTopmostWindowsAbove)
{
    // FindWindowA answers the window nearest the top.
    HWND a = make("A"), b = make("B"), c = make("C");
    auto top = [] { return FindWindowA("LayerTest", nullptr); };
    ASSERT_EQ(top(), c);
    struct Row {
        const char* what;
        HWND window;
        HWND after;
        HWND top;
        bool a_topmost;
    };
    const Row rows[] = {
        { "A topmost", a, HWND_TOPMOST, a, true },
        { "B to the top of the others stays below A", b, HWND_TOP, a, true },
        { "A no longer topmost goes on top of the others", a, HWND_NOTOPMOST, a, false },
        { "A to the bottom", a, HWND_BOTTOM, b, false },
        { "A behind B", a, b, b, false },
        { "B to the bottom", b, HWND_BOTTOM, a, false },
        { "C to the top", c, HWND_TOP, c, false },
    };
    for (const auto& r : rows) {
        ASSERT_TRUE(SetWindowPos(r.window, r.after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE)) << r.what;
        EXPECT_EQ(top(), r.top) << r.what;
        EXPECT_EQ((GetWindowLongA(a, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, r.a_topmost) << r.what;
    }
}

TEST_F(WindowLayer, EnableWindowAnswersThePreviousStateAndTakesTheFocus)
{
    HWND w = make("Enable", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HWND child = make("child", WS_CHILD | WS_VISIBLE, w, 5);
    SetFocus(child);
    ASSERT_EQ(GetFocus(), child);
    g_seen.clear();
    EXPECT_FALSE(EnableWindow(w, FALSE)) << "was enabled";
    EXPECT_FALSE(IsWindowEnabled(w));
    EXPECT_EQ(GetFocus(), nullptr) << "the focus cannot stay in a disabled window";
    EXPECT_TRUE(EnableWindow(w, FALSE)) << "was disabled";
    EXPECT_TRUE(EnableWindow(w, TRUE));
    EXPECT_TRUE(IsWindowEnabled(w));
    const std::vector<Seen> want {
        { child, WM_KILLFOCUS, 0, 0 },
        { w, WM_ENABLE, FALSE, 0 },
        { w, WM_ENABLE, TRUE, 0 },
    };
    EXPECT_EQ(g_seen, want);
}

TEST_F(WindowLayer, ActivationAndFocusMoveWithTheirMessages)
{
    HWND a = make("A");
    HWND b = make("B");
    HWND child = make("child", WS_CHILD | WS_VISIBLE, b, 7);
    ShowWindow(a, SW_SHOWNORMAL);
    EXPECT_EQ(GetActiveWindow(), a);
    EXPECT_EQ(GetFocus(), a);
    ShowWindow(b, SW_SHOWNA);
    EXPECT_EQ(GetActiveWindow(), a) << "SW_SHOWNA does not activate";

    g_seen.clear();
    EXPECT_EQ(SetFocus(child), b) << "the focus the activation of B gave it";
    const std::vector<Seen> want {
        { a, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(b) },
        { a, WM_KILLFOCUS, 0, 0 },
        { b, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(a) },
        { b, WM_SETFOCUS, 0, 0 },
        { b, WM_KILLFOCUS, reinterpret_cast<WPARAM>(child), 0 },
        { child, WM_SETFOCUS, reinterpret_cast<WPARAM>(b), 0 },
    };
    EXPECT_EQ(g_seen, want);
    EXPECT_EQ(GetActiveWindow(), b);

    // Another thread has its own (empty) state and cannot take ours.
    auto other = std::async(std::launch::async, [a] {
        SetLastError(0);
        const bool took = SetActiveWindow(a) != nullptr || GetLastError() != ERROR_ACCESS_DENIED;
        return std::make_pair(GetActiveWindow() == nullptr && GetFocus() == nullptr, took);
    });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto [empty, took] = other.get();
    EXPECT_TRUE(empty);
    EXPECT_FALSE(took);
    EXPECT_EQ(GetActiveWindow(), b);

    // Hiding or destroying the active window hands activation to a visible,
    // enabled owner.
    HWND owned = CreateWindowExA(0, "LayerTest", "owned", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, b, nullptr, nullptr, nullptr);
    ShowWindow(owned, SW_SHOWNORMAL);
    ASSERT_EQ(GetActiveWindow(), owned);
    DestroyWindow(owned);
    EXPECT_EQ(GetActiveWindow(), b);
    DestroyWindow(b);
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_EQ(GetFocus(), nullptr);
}

} // namespace
