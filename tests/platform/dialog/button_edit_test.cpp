// Buttons and edits as a dialog procedure and a user meet them.
#include "dialog_test_util.h"
#include "test_support.h"
#include "test_templates.h"

#include <gtest/gtest.h>

using namespace kolm::test;

namespace {

class Controls : public RootedTest {
protected:
    void SetUp() override
    {
        register_test_templates();
        reset_script();
        dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(kEveryControl), nullptr, ScriptedDlgProc, 0);
        ASSERT_NE(dlg, nullptr);
        ShowWindow(dlg, SW_SHOWNORMAL);
    }
    void TearDown() override
    {
        if (IsWindow(dlg))
            DestroyWindow(dlg);
    }
    HWND item(int id) { return GetDlgItem(dlg, id); }
    size_t notifications(int id, int code) const
    {
        size_t n = 0;
        for (const auto& [i, c] : script().commands())
            n += i == id && c == code;
        return n;
    }
    std::string text(int id)
    {
        char buf[128] = {};
        GetDlgItemTextA(dlg, id, buf, sizeof buf);
        return buf;
    }
    HWND dlg = nullptr;
};

TEST_F(Controls, RadioGroupsCheckBoxesAndPushButtons)
{
    struct Row {
        const char* what;
        std::function<void()> act;
        UINT a, b, check;
    };
    const Row rows[] = {
        { "CheckRadioButton B", [&] { CheckRadioButton(dlg, 111, 112, 112); }, 0, 1, 0 },
        { "click A", [&] { SendMessageA(item(111), BM_CLICK, 0, 0); }, 1, 0, 0 },
        { "click B", [&] { SendMessageA(item(112), BM_CLICK, 0, 0); }, 0, 1, 0 },
        { "click check", [&] { SendMessageA(item(113), BM_CLICK, 0, 0); }, 0, 1, 1 },
        { "click check again", [&] { SendMessageA(item(113), BM_CLICK, 0, 0); }, 0, 1, 0 },
        { "CheckDlgButton check", [&] { CheckDlgButton(dlg, 113, BST_CHECKED); }, 0, 1, 1 },
        { "CheckRadioButton none", [&] { CheckRadioButton(dlg, 111, 112, 0); }, 0, 0, 1 },
    };
    for (const auto& r : rows) {
        r.act();
        EXPECT_EQ(IsDlgButtonChecked(dlg, 111), r.a) << r.what;
        EXPECT_EQ(IsDlgButtonChecked(dlg, 112), r.b) << r.what;
        EXPECT_EQ(IsDlgButtonChecked(dlg, 113), r.check) << r.what << ": another group";
    }
    EXPECT_EQ(script().clicks(), (std::vector<int> { 111, 112, 113, 113 })) << "only user clicks notify";
    for (const auto& m : script().log) {
        if (m.message == WM_COMMAND) {
            EXPECT_EQ(reinterpret_cast<HWND>(m.lparam), item(LOWORD(m.wparam))) << "lParam is the button";
        }
    }

    CheckDlgButton(dlg, IDOK, BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDOK), 0u) << "a push button has no check mark";
}

TEST_F(Controls, ButtonsTheUserCannotReachIgnoreClicks)
{
    EnableWindow(item(IDOK), FALSE);
    SendMessageA(item(IDOK), BM_CLICK, 0, 0);
    SendMessageA(item(IDOK), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageA(item(IDOK), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EnableWindow(item(IDOK), TRUE);
    EnableWindow(dlg, FALSE); // a disabled dialog disables its controls for the user
    SendMessageA(item(IDOK), BM_CLICK, 0, 0);
    EnableWindow(dlg, TRUE);
    // Pressed, then released outside: the user changed their mind.
    SendMessageA(item(IDCANCEL), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageA(item(IDCANCEL), WM_LBUTTONUP, 0, MAKELPARAM(500, 2));
    EXPECT_TRUE(script().clicks().empty());

    SendMessageA(item(IDCANCEL), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    EXPECT_EQ(SendMessageA(item(IDCANCEL), BM_GETSTATE, 0, 0) & BST_PUSHED, BST_PUSHED);
    EXPECT_EQ(GetFocus(), item(IDCANCEL)) << "a pressed button takes the focus";
    SendMessageA(item(IDCANCEL), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(script().clicks(), (std::vector<int> { IDCANCEL }));
}

TEST_F(Controls, ClicksOnFramesAndLabelsReachTheDialog)
{
    // The group box lies at (8, 8) and the label at (165, 49) in the dialog.
    SendMessageA(item(110), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 3));
    SendMessageA(item(-1), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
    std::vector<LPARAM> points;
    for (const auto& m : script().log)
        if (m.message == WM_LBUTTONDOWN && m.hwnd == dlg)
            points.push_back(m.lparam);
    EXPECT_EQ(points, (std::vector<LPARAM> { MAKELPARAM(10, 11), MAKELPARAM(166, 50) }));
    EXPECT_TRUE(script().clicks().empty());
}

TEST_F(Controls, EditsKeepTheirLimitReadOnlyFlagAndNotifyChanges)
{
    auto type = [&](int id, const char* chars) {
        for (const char* c = chars; *c; ++c)
            SendMessageA(item(id), WM_CHAR, static_cast<unsigned char>(*c), 0);
    };
    struct Row {
        const char* what;
        int id;
        std::function<void()> act;
        const char* text;
        size_t changes; // EN_CHANGE of that edit, so far
        size_t maxed;   // EN_MAXTEXT of that edit, so far
    };
    const Row rows[] = {
        { "set text", 114, [&] { SetDlgItemTextA(dlg, 114, "abc"); }, "abc", 1, 0 },
        { "limit 5, type at end", 114, [&] {
              SendMessageA(item(114), EM_LIMITTEXT, 5, 0);
              SendMessageA(item(114), EM_SETSEL, 3, 3);
              type(114, "de");
          }, "abcde", 3, 0 },
        { "type past the limit", 114, [&] { type(114, "f"); }, "abcde", 3, 1 },
        { "WM_SETTEXT is not limited", 114, [&] { SetDlgItemTextA(dlg, 114, "0123456789"); }, "0123456789", 4, 1 },
        { "select all, type over", 114, [&] {
              SendMessageA(item(114), EM_SETSEL, 0, -1);
              type(114, "z");
          }, "z", 5, 1 },
        { "single line takes no line break", 114, [&] { type(114, "\r"); }, "z", 5, 1 },
        { "backspace", 114, [&] { type(114, "\b"); }, "", 6, 1 },
        { "replace selection is cut at the limit", 114, [&] {
              SendMessageA(item(114), EM_REPLACESEL, 0, reinterpret_cast<LPARAM>("uvwxyz"));
          }, "uvwxy", 7, 2 },
        { "multi-line set text does not notify", 115, [&] { SetDlgItemTextA(dlg, 115, "one"); }, "one", 0, 0 },
        { "read-only ignores typing", 115, [&] { type(115, "x"); }, "one", 0, 0 },
        { "writable again: Enter is a line break", 115, [&] {
              SendMessageA(item(115), EM_SETREADONLY, FALSE, 0);
              SendMessageA(item(115), EM_SETSEL, 3, 3);
              type(115, "\rtwo");
          }, "one\r\ntwo", 4, 0 },
        { "backspace takes a line break whole", 115, [&] {
              SendMessageA(item(115), EM_SETSEL, 5, 5);
              type(115, "\b");
          }, "onetwo", 5, 0 },
    };
    for (const auto& r : rows) {
        r.act();
        EXPECT_EQ(text(r.id), r.text) << r.what;
        EXPECT_EQ(notifications(r.id, EN_CHANGE), r.changes) << r.what;
        EXPECT_EQ(notifications(r.id, EN_MAXTEXT), r.maxed) << r.what;
    }
    EXPECT_EQ(SendMessageA(item(114), EM_GETLIMITTEXT, 0, 0), 5);
    EXPECT_EQ(SendMessageA(item(115), EM_GETLINECOUNT, 0, 0), 1);
    EXPECT_TRUE(SendMessageA(item(114), EM_GETMODIFY, 0, 0));
}

} // namespace
