// WM_PAINT: due once a top-level window is shown and again when a window
// it owns goes away and uncovers it; it comes after posted messages.
#include "test_support.h"
#include "user_test_util.h"

#include <vector>

using kolm::test::create;
using kolm::test::register_class;

namespace {

std::vector<HWND> g_painted;

LRESULT CALLBACK PaintProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_PAINT) {
        g_painted.push_back(h);
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

class PaintTest : public kolm::test::RootedTest {
protected:
    void SetUp() override
    {
        static bool registered = false;
        if (!registered) {
            register_class("Painted", PaintProc);
            registered = true;
        }
        drain();
        g_painted.clear();
    }
    // Dispatches whatever this thread has waiting, WM_PAINT included.
    static void drain()
    {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
    }
};

TEST_F(PaintTest, ShownAndUncoveredWindowsArePaintedOnce)
{
    HWND hidden = create("Painted", "hidden");
    HWND main = create("Painted", "main", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    PostMessageA(main, WM_USER, 0, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER)) << "posted messages come first";
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(m.hwnd, main);
    drain();
    EXPECT_EQ(g_painted, std::vector<HWND> { main }) << "once, and never for the hidden window";

    // An owned popup: shown, it is painted; going away, it uncovers its
    // owner, which is painted again.
    HWND popup = CreateWindowExA(0, "Painted", "popup", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, main, nullptr, nullptr,
                                 nullptr);
    ASSERT_TRUE(popup);
    drain();
    EXPECT_EQ(g_painted, (std::vector<HWND> { main, popup }));
    ShowWindow(popup, SW_HIDE);
    drain();
    EXPECT_EQ(g_painted, (std::vector<HWND> { main, popup, main }));
    ShowWindow(popup, SW_SHOW);
    DestroyWindow(popup);
    drain();
    EXPECT_EQ(g_painted, (std::vector<HWND> { main, popup, main, main })) << "a destroyed popup uncovers too";
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) << "nothing more is due";

    // A filter on another window or a range without WM_PAINT leaves it due.
    ShowWindow(main, SW_HIDE);
    ShowWindow(main, SW_SHOW);
    EXPECT_FALSE(PeekMessageA(&m, hidden, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&m, main, WM_PAINT, WM_PAINT, PM_REMOVE));
    EXPECT_EQ(m.hwnd, main);
    DestroyWindow(main);
    DestroyWindow(hidden);
}

TEST_F(PaintTest, ProgramIconsAreFoundByTheirNumber)
{
    static const char* const rows[] = { "#+.", "+#.", "..#" };
    static const char* const ragged[] = { "#+.", "+#", "..#" };
    const ICON_DATA icons[] = { { 7, 3, 3, rows }, { 8, 3, 3, ragged } };
    RegisterIconResources(icons, 2);
    const HINSTANCE self = GetModuleHandleA(nullptr);
    EXPECT_NE(LoadIconA(self, MAKEINTRESOURCE(7)), nullptr);
    EXPECT_NE(LoadIconA(self, MAKEINTRESOURCE(7)), LoadIconA(nullptr, IDI_APPLICATION));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadIconA(self, MAKEINTRESOURCE(8)), nullptr) << "a picture with a short row is not taken";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(LoadIconA(self, MAKEINTRESOURCE(9)), nullptr);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCE(7)), nullptr) << "without an instance: system icons only";
}

} // namespace
