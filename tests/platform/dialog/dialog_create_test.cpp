// Dialogs made from templates: where the controls land, what the dialog
// procedure sees while the dialog is made, and how its answers work.
#include "dialog/dialog_units.h"
#include "dialog_test_util.h"
#include "test_support.h"
#include "test_templates.h"

#include <gtest/gtest.h>

using namespace kolm::test;

namespace {

class DialogCreate : public RootedTest {
protected:
    void SetUp() override
    {
        register_test_templates();
        reset_script();
    }
    void TearDown() override
    {
        for (HWND h : m_windows)
            if (IsWindow(h))
                DestroyWindow(h);
    }
    HWND make(WORD id, HWND owner = nullptr, LPARAM param = 0)
    {
        HWND h = CreateDialogParamA(nullptr, MAKEINTRESOURCE(id), owner, ScriptedDlgProc, param);
        m_windows.push_back(h);
        return h;
    }
    std::vector<HWND> m_windows;
};

std::string class_of(HWND h)
{
    char buf[64] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

TEST(DialogUnits, ConvertToPixelsRoundingHalvesAwayFromZero)
{
    struct Row {
        int x, y, cx, cy;
        RECT px;
    };
    const Row rows[] = {
        { 0, 0, 0, 0, { 0, 0, 0, 0 } },
        { 4, 8, 4, 8, { 6, 13, 12, 26 } },       // one base unit each way
        { 1, 1, 1, 1, { 2, 2, 4, 4 } },          // 1.5 and 1.625 round up
        { 2, 4, 2, 4, { 3, 7, 6, 14 } },         // 6.5 rounds up
        { -3, -5, 3, 5, { -5, -8, 0, 0 } },      // -4.5 rounds to -5
        { 99, 73, 218, 48, { 149, 119, 476, 197 } },
        { 86, 42, 50, 14, { 129, 68, 204, 91 } },
    };
    for (const auto& r : rows) {
        const RECT got = kolm::platform::dialog_units_to_pixels(r.x, r.y, r.cx, r.cy);
        EXPECT_EQ(got.left, r.px.left) << "row " << r.x << "," << r.y << "," << r.cx << "," << r.cy;
        EXPECT_EQ(got.top, r.px.top) << "row " << r.x << "," << r.y;
        EXPECT_EQ(got.right, r.px.right) << "row " << r.x << "," << r.y;
        EXPECT_EQ(got.bottom, r.px.bottom) << "row " << r.x << "," << r.y;
    }
}

TEST_F(DialogCreate, EveryControlIsMadeAtItsPixelRectangle)
{
    HWND dlg = make(kEveryControl);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(class_of(dlg), "#32770");
    EXPECT_FALSE(IsWindowVisible(dlg)) << "the template has no WS_VISIBLE";

    // Client area at (15, 16), 300 x 195; caption 18 and dialog frame 3.
    RECT w, c;
    ASSERT_TRUE(GetWindowRect(dlg, &w));
    ASSERT_TRUE(GetClientRect(dlg, &c));
    EXPECT_EQ(w.left, 12);
    EXPECT_EQ(w.top, -5);
    EXPECT_EQ(w.right, 318);
    EXPECT_EQ(w.bottom, 214);
    EXPECT_EQ(c.right, 300);
    EXPECT_EQ(c.bottom, 195);

    struct Row {
        int id;
        const char* cls;
        const char* text;
        RECT px; // in the dialog's client area
    };
    const Row rows[] = {
        { IDOK, "BUTTON", "OK", { 15, 163, 90, 186 } },
        { IDCANCEL, "BUTTON", "Cancel", { 105, 163, 180, 186 } },
        { 110, "BUTTON", "Group", { 8, 8, 158, 73 } },
        { 111, "BUTTON", "A", { 15, 24, 75, 40 } },
        { 112, "BUTTON", "B", { 15, 44, 75, 60 } },
        { 113, "BUTTON", "Check", { 165, 24, 225, 40 } },
        { -1, "STATIC", "Label", { 165, 49, 225, 62 } },
        { 114, "EDIT", "text", { 15, 81, 135, 101 } },
        { 115, "EDIT", "multi", { 150, 81, 270, 120 } },
        { 116, "LISTBOX", "", { 15, 114, 135, 155 } },
    };
    for (const auto& r : rows) {
        HWND item = GetDlgItem(dlg, r.id);
        ASSERT_NE(item, nullptr) << "id " << r.id;
        EXPECT_EQ(class_of(item), r.cls) << "id " << r.id;
        char text[32] = {};
        GetWindowTextA(item, text, sizeof text);
        EXPECT_STREQ(text, r.text) << "id " << r.id;
        EXPECT_EQ(GetDlgCtrlID(item), static_cast<WORD>(r.id)) << "id " << r.id;
        EXPECT_TRUE(GetWindowLongA(item, GWL_STYLE) & WS_CHILD) << "id " << r.id;
        RECT got;
        ASSERT_TRUE(GetWindowRect(item, &got));
        EXPECT_EQ(got.left - (w.left + 3), r.px.left) << "id " << r.id;
        EXPECT_EQ(got.top - (w.top + 21), r.px.top) << "id " << r.id;
        EXPECT_EQ(got.right - got.left, r.px.right - r.px.left) << "id " << r.id;
        EXPECT_EQ(got.bottom - got.top, r.px.bottom - r.px.top) << "id " << r.id;
    }
    // Control ids are 16-bit: -1 and 0xFFFF name the same static.
    EXPECT_EQ(GetDlgItem(dlg, 0xFFFF), GetDlgItem(dlg, -1));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetDlgItem(dlg, 4242), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
}

TEST_F(DialogCreate, InitDialogComesOnceAfterTheControlsWithTheParameter)
{
    bool controls_there = false;
    script().on = [&](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            controls_there = GetDlgItem(h, 116) != nullptr && GetDlgItem(h, IDOK) != nullptr;
        return msg == WM_INITDIALOG;
    };
    HWND dlg = make(kEveryControl, nullptr, 0x1234);
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(script().count(WM_INITDIALOG), 1u);
    EXPECT_TRUE(controls_there);
    const auto& first = script().log.front();
    EXPECT_EQ(first.message, static_cast<UINT>(WM_INITDIALOG)) << "the procedure sees nothing before WM_INITDIALOG";
    EXPECT_EQ(first.lparam, 0x1234);
    EXPECT_EQ(reinterpret_cast<HWND>(first.wparam), GetDlgItem(dlg, IDOK)) << "wParam is the first tab stop";
}

TEST_F(DialogCreate, VisibleTemplateIsShownActiveWithFocusWhereInitDialogLeftIt)
{
    // TRUE from WM_INITDIALOG: the first tab stop gets the focus.
    script().on = [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR { return msg == WM_INITDIALOG; };
    HWND dlg = make(kKeys);
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_EQ(GetActiveWindow(), dlg);
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 1001));
    DestroyWindow(dlg);

    // FALSE: the procedure set the focus itself, and it stays there.
    script().on = [](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            SetFocus(GetDlgItem(h, 1003));
        return FALSE;
    };
    dlg = make(kKeys);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 1003));
}

TEST_F(DialogCreate, TemplatesAreFoundByIdNumberTextOrName)
{
    struct Row {
        LPCSTR name;
        bool found;
    };
    const Row rows[] = {
        { MAKEINTRESOURCE(kEveryControl), true },
        { "EVERYTHING", true },
        { "everything", true },
        { "#100", true },
        { MAKEINTRESOURCE(999), false },
        { "#999", false },
        { "nothing", false },
    };
    for (const auto& r : rows) {
        SetLastError(0xdeadbeef);
        HWND h = CreateDialogParamA(nullptr, r.name, nullptr, ScriptedDlgProc, 0);
        m_windows.push_back(h);
        EXPECT_EQ(h != nullptr, r.found) << "row " << (IS_INTRESOURCE(r.name) ? "id" : r.name);
        if (!r.found) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
        }
    }
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCE(999), nullptr, ScriptedDlgProc, 0), -1);
}

TEST_F(DialogCreate, ControlThatCannotBeMadeFailsTheDialog)
{
    const DLGITEM_DATA items[] = {
        { "STATIC", "fine", WS_VISIBLE, 0, 0, 10, 10, 1, 0 },
        { "NOSUCHCLASS", "bad", WS_VISIBLE, 0, 0, 10, 10, 2, 0 },
    };
    const DLGTEMPLATE_DATA tpl[] = { { 4000, nullptr, WS_POPUP, 0, 0, 0, 50, 50, "Broken", nullptr, 8, items, 2 } };
    RegisterDialogResources(tpl, 1);
    SetLastError(0);
    EXPECT_EQ(make(4000), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    EXPECT_EQ(FindWindowA("#32770", "Broken"), nullptr) << "the half-made dialog is gone";
    EXPECT_EQ(script().count(WM_INITDIALOG), 0u);
}

TEST_F(DialogCreate, PositionIsInTheOwnersClientArea)
{
    // The owner's client area starts at (104, 72): a sizing frame of 4 and
    // a caption of 18 around a window at (100, 50).
    HWND owner = create_window("Owner");
    m_windows.push_back(owner);
    HWND dlg = make(kModal, owner);
    ASSERT_NE(dlg, nullptr);
    RECT w;
    ASSERT_TRUE(GetWindowRect(dlg, &w));
    EXPECT_EQ(w.left, 104 + 30 - 3);
    EXPECT_EQ(w.top, 72 + 33 - 21);
    EXPECT_EQ(GetWindowLongA(dlg, GWL_HWNDPARENT), static_cast<LONG>(HandleToDword(owner)));
}

TEST_F(DialogCreate, ProcedureAnswersThroughMsgResult)
{
    script().on = [](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        switch (msg) {
        case WM_USER + 5: // handled, answer in DWL_MSGRESULT
            SetWindowLongA(h, DWL_MSGRESULT, 77);
            return TRUE;
        case WM_USER + 6: // handled, no answer set: 0, not last call's 77
            return TRUE;
        case WM_USER + 7: // not handled: the default, whatever was set
            SetWindowLongA(h, DWL_MSGRESULT, 99);
            return FALSE;
        case WM_CTLCOLORDLG: // answered by the return value itself
            return 0x55;
        default:
            return FALSE;
        }
    };
    HWND dlg = make(kEveryControl);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(SendMessageA(dlg, WM_USER + 5, 0, 0), 77);
    EXPECT_EQ(SendMessageA(dlg, WM_USER + 6, 0, 0), 0);
    EXPECT_EQ(SendMessageA(dlg, WM_USER + 7, 0, 0), 0);
    EXPECT_EQ(SendMessageA(dlg, WM_CTLCOLORDLG, 0, 0), 0x55);
}

TEST_F(DialogCreate, CloseAndSystemCloseMeanCancel)
{
    HWND dlg = make(kEveryControl);
    ASSERT_NE(dlg, nullptr);
    SendMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(pump_until([] { return !script().commands().empty(); }, dlg));
    EXPECT_EQ(script().commands(), (std::vector<std::pair<int, int>> { { IDCANCEL, BN_CLICKED } }));
    EXPECT_TRUE(IsWindow(dlg)) << "an unhandled Cancel leaves a modeless dialog alone";

    // With Cancel disabled, closing does nothing.
    script().log.clear();
    EnableWindow(GetDlgItem(dlg, IDCANCEL), FALSE);
    SendMessageA(dlg, WM_CLOSE, 0, 0);
    PostMessageA(dlg, WM_USER + 50, 0, 0); // everything posted before it has been handled when it comes
    ASSERT_TRUE(pump_until([] { return script().count(WM_USER + 50) > 0; }, dlg));
    EXPECT_TRUE(script().commands().empty());
}

} // namespace
