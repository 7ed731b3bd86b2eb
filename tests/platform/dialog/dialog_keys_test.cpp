// Keyboard navigation through IsDialogMessageA: Tab, Shift+Tab, Enter and
// Escape, as the user presses them.
#include "dialog_test_util.h"
#include "test_support.h"
#include "test_templates.h"

#include <gtest/gtest.h>

using namespace kolm::test;

namespace {

class DialogKeys : public RootedTest {
protected:
    void SetUp() override
    {
        register_test_templates();
        reset_script();
        script().on = [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR { return msg == WM_INITDIALOG; };
        dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(kKeys), nullptr, ScriptedDlgProc, 0);
        ASSERT_NE(dlg, nullptr);
        ASSERT_EQ(GetFocus(), item(1001));
    }
    void TearDown() override
    {
        if (IsWindow(dlg))
            DestroyWindow(dlg);
    }
    HWND item(int id) { return GetDlgItem(dlg, id); }
    // A key pressed on the focus window, as a keyboard would deliver it.
    void press(WPARAM vk)
    {
        PostMessageA(GetFocus(), WM_KEYDOWN, vk, 0);
        PostMessageA(GetFocus(), WM_KEYUP, vk, 0);
        settle();
    }
    // Runs until everything posted so far has been handled.
    void settle()
    {
        PostMessageA(dlg, WM_USER + 50, 0, 0);
        const size_t before = script().count(WM_USER + 50);
        ASSERT_TRUE(pump_until([&] { return script().count(WM_USER + 50) > before; }, dlg));
    }
    HWND dlg = nullptr;
};

TEST_F(DialogKeys, TabAndShiftTabFollowTheTabStopsRoundTheDialog)
{
    // 1002 has no tab stop, 1004 is disabled, 1005 hidden.
    const int forward[] = { 1003, 1006, IDCANCEL, 1001, 1003 };
    for (int id : forward) {
        press(VK_TAB);
        EXPECT_EQ(GetFocus(), item(id)) << "Tab to " << id;
    }
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_SHIFT, 0);
    const int backward[] = { 1001, IDCANCEL, 1006 };
    for (int id : backward) {
        press(VK_TAB);
        EXPECT_EQ(GetFocus(), item(id)) << "Shift+Tab to " << id;
    }
    PostMessageA(GetFocus(), WM_KEYUP, VK_SHIFT, 0);
    press(VK_TAB);
    EXPECT_EQ(GetFocus(), item(IDCANCEL)) << "Shift released";

    // Tabbing into an edit selects its text.
    press(VK_TAB);
    press(VK_TAB);
    EXPECT_EQ(GetFocus(), item(1003));
    DWORD start = 9, end = 9;
    SendMessageA(item(1003), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 5u);
    EXPECT_TRUE(script().clicks().empty()) << "Tab presses no button";
}

TEST_F(DialogKeys, EnterPressesTheDefaultOrTheFocusedButtonAndEscapeCancels)
{
    using Clicks = std::vector<int>;
    press(VK_RETURN); // focus in an edit: the default push button
    EXPECT_EQ(script().clicks(), (Clicks { 1006 }));

    script().log.clear();
    SetFocus(item(IDCANCEL));
    press(VK_RETURN); // a focused push button presses itself
    EXPECT_EQ(script().clicks(), (Clicks { IDCANCEL }));

    script().log.clear();
    SetFocus(item(1001));
    press(VK_ESCAPE);
    EXPECT_EQ(script().clicks(), (Clicks { IDCANCEL }));

    script().log.clear();
    EnableWindow(item(1006), FALSE); // a disabled default does nothing
    press(VK_RETURN);
    EXPECT_TRUE(script().clicks().empty());

    script().log.clear();
    SendMessageA(dlg, DM_SETDEFID, 1003, 0); // DM_SETDEFID names another default
    press(VK_RETURN);
    EXPECT_EQ(script().clicks(), (Clicks { 1003 }));
}

TEST_F(DialogKeys, WithoutDefaultPushButtonEnterMeansOk)
{
    const DLGITEM_DATA items[] = { { "EDIT", "", WS_TABSTOP | WS_VISIBLE, 0, 0, 40, 12, 5, 0 } };
    const DLGTEMPLATE_DATA tpl[] = { { 301, nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 0, 60, 30, "Plain", nullptr, 8, items, 1 } };
    RegisterDialogResources(tpl, 1);
    DestroyWindow(dlg);
    script().log.clear();
    dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(301), nullptr, ScriptedDlgProc, 0);
    ASSERT_NE(dlg, nullptr);
    press(VK_RETURN);
    EXPECT_EQ(script().clicks(), (std::vector<int> { IDOK }));
}

TEST_F(DialogKeys, MultiLineEditThatWantsReturnTakesEnter)
{
    const DLGITEM_DATA items[] = {
        { "EDIT", "", ES_MULTILINE | ES_WANTRETURN | WS_TABSTOP | WS_VISIBLE, 0, 0, 40, 30, 5, 0 },
        { "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 0, 40, 40, 14, IDOK, 0 },
    };
    const DLGTEMPLATE_DATA tpl[] = { { 302, nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 0, 60, 60, "Multi", nullptr, 8, items, 2 } };
    RegisterDialogResources(tpl, 1);
    DestroyWindow(dlg);
    script().log.clear();
    dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(302), nullptr, ScriptedDlgProc, 0);
    ASSERT_NE(dlg, nullptr);
    PostMessageA(GetFocus(), WM_CHAR, 'a', 0);
    press(VK_RETURN);
    PostMessageA(GetFocus(), WM_CHAR, 'b', 0);
    settle();
    char text[16] = {};
    GetDlgItemTextA(dlg, 5, text, sizeof text);
    EXPECT_STREQ(text, "a\r\nb");
    EXPECT_TRUE(script().clicks().empty()) << "Enter went to the edit, not to OK";
}

} // namespace
