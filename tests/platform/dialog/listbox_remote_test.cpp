// A dialog of another process driven by control id, as the setup utility's
// tests and automation drive one: list box messages carry their text and
// buffers across, GetDlgItem finds the controls over there.
#include "dialog_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace kolm::test;

namespace {

using RemoteDialog = RootedTest;

LRESULT send_text(HWND h, UINT msg, WPARAM w, const char* text)
{
    return SendMessageA(h, msg, w, reinterpret_cast<LPARAM>(text));
}

TEST_F(RemoteDialog, ListBoxMessagesCarryTextAndBuffersAcross)
{
    Peer peer({ "dialog" });
    HWND dlg = peer.wait_ready();
    ASSERT_NE(dlg, nullptr);
    HWND list = GetDlgItem(dlg, 102);
    ASSERT_NE(list, nullptr);
    char cls[16] = {};
    GetClassNameA(list, cls, sizeof cls);
    EXPECT_STREQ(cls, "LISTBOX");
    SetLastError(0);
    EXPECT_EQ(GetDlgItem(dlg, 999), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));

    struct Row {
        const char* what;
        UINT msg;
        WPARAM w;
        const char* text; // NULL: lParam 0
        LRESULT want;
    };
    const Row rows[] = {
        { "add", LB_ADDSTRING, 0, "[IP ]host:1", 0 },
        { "add", LB_ADDSTRING, 0, "[IPX]server", 1 },
        { "add", LB_ADDSTRING, 0, "[IP ]Other:2", 2 },
        { "insert", LB_INSERTSTRING, 1, "[IP ]inserted", 1 },
        { "count", LB_GETCOUNT, 0, nullptr, 4 },
        { "find prefix", LB_FINDSTRING, static_cast<WPARAM>(-1), "[ipx]", 2 },
        { "find exact", LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "[ip ]other:2", 3 },
        { "find nothing", LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "[ip ]other", LB_ERR },
        { "select string", LB_SELECTSTRING, 0, "[ip ]o", 3 },
        { "select item 0", LB_SETSEL, TRUE, nullptr, LB_OKAY },
        { "selected count", LB_GETSELCOUNT, 0, nullptr, 2 },
        { "text length", LB_GETTEXTLEN, 2, nullptr, 11 },
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.text ? send_text(list, r.msg, r.w, r.text) : SendMessageA(list, r.msg, r.w, 0), r.want) << r.what;

    char text[16];
    std::memset(text, 0xbd, sizeof text);
    EXPECT_EQ(SendMessageA(list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(text)), 11);
    EXPECT_STREQ(text, "[IPX]server");
    EXPECT_EQ(static_cast<unsigned char>(text[12]), 0xbd);

    int sel[4] = { -7, -7, -7, -7 };
    ASSERT_EQ(SendMessageA(list, LB_GETSELITEMS, 3, reinterpret_cast<LPARAM>(sel)), 2);
    EXPECT_EQ(sel[0], 0);
    EXPECT_EQ(sel[1], 3);
    EXPECT_EQ(sel[2], -7) << "only the selected items are written";

    // The user's click reaches the peer's dialog procedure, which reports
    // it in its edit; texts of controls over there read and write by id.
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 14));
    char edit[32] = {};
    EXPECT_EQ(GetDlgItemTextA(dlg, 106, edit, sizeof edit), 11u);
    EXPECT_STREQ(edit, "selchange 1");
    EXPECT_EQ(SendMessageA(list, LB_GETSEL, 1, 0), 1);
    EXPECT_TRUE(SetDlgItemTextA(dlg, 106, "typed"));
    EXPECT_EQ(GetDlgItemTextA(dlg, 106, edit, sizeof edit), 5u);
    EXPECT_STREQ(edit, "typed");

    SendMessageA(dlg, WM_CLOSE, 0, 0);
    EXPECT_EQ(peer.wait_exit(), 0);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 0) << "a vanished window answers 0";
}

} // namespace
