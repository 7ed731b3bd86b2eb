// A box driven the way the runtime drives its notice: a modeless, topmost
// dialog whose static text (id -1) changes, that closes on its timer, on a
// click, or on its OK button (101).
#include "dialog/screen_log.h"
#include "dialog/screen_log_reader.h"
#include "dialog_test_util.h"
#include "test_support.h"
#include "test_templates.h"

#include <gtest/gtest.h>

using namespace kolm::test;

namespace {

HWND g_before = nullptr;
int g_timer_messages = 0;

void close_box(HWND h, bool hand_back)
{
    KillTimer(h, 1);
    if (hand_back && GetActiveWindow() == h)
        SetActiveWindow(g_before);
    DestroyWindow(h);
}

INT_PTR CALLBACK NoticeLikeProc(HWND h, UINT msg, WPARAM w, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetDlgItemTextA(h, -1, " ");
        return FALSE;
    case WM_TIMER:
        ++g_timer_messages;
        close_box(h, true);
        return TRUE;
    case WM_LBUTTONDOWN:
        close_box(h, true);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(w) == 101) {
            close_box(h, false);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

class NoticeBox : public RootedTest {
protected:
    void SetUp() override
    {
        register_test_templates();
        app = create_window("Application");
        g_before = GetActiveWindow();
        ASSERT_EQ(g_before, app);
        g_timer_messages = 0;
        box = CreateDialogParamA(nullptr, MAKEINTRESOURCE(kNoticeOk), nullptr, NoticeLikeProc, 0);
        ASSERT_NE(box, nullptr);
    }
    void TearDown() override
    {
        if (IsWindow(box))
            DestroyWindow(box);
        DestroyWindow(app);
    }
    HWND app = nullptr;
    HWND box = nullptr;
};

TEST_F(NoticeBox, ShowsTopmostInPlaceAndLogsEachNewText)
{
    EXPECT_TRUE(IsWindowVisible(box));
    EXPECT_TRUE(GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT r;
    ASSERT_TRUE(GetWindowRect(box, &r));
    EXPECT_EQ(r.left, 149 - 3) << "the topmost call neither moves nor sizes it";
    EXPECT_EQ(r.top, 119 - 21);
    EXPECT_EQ(r.right, 476 + 3);
    EXPECT_EQ(r.bottom, 119 + 98 + 3);
    EXPECT_EQ(GetActiveWindow(), box) << "shown normally, it is active";
    EXPECT_EQ(FindWindowA("#32770", "Tarvizone Redirector"), box);

    kolm::platform::ScreenLogReader log;
    auto shown = log.wait_for([](const kolm::platform::ScreenLine& l) { return l.kind == "dialog-shown"; });
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->text, " ") << "the filler text is never shown";

    SetDlgItemTextA(box, -1, "\nAttempting to connect to service host:1");
    char text[64] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EXPECT_STREQ(text, "\nAttempting to connect to service host:1");
    auto line = log.wait_for("dialog-text");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->raw, kolm::platform::screen_program_name()
                             + " dialog-text \"Tarvizone Redirector\" \"\\nAttempting to connect to service host:1\"");
}

TEST_F(NoticeBox, ClickOnTheTextClosesItAndHandsActivationBack)
{
    SetTimer(box, 1, 60000, nullptr);
    SendMessageA(GetDlgItem(box, -1), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(GetActiveWindow(), app);
    kolm::platform::ScreenLogReader log;
    EXPECT_TRUE(log.wait_for("dialog-closed \"Tarvizone Redirector\""));
}

TEST_F(NoticeBox, OkButtonClosesItWithoutHandingActivationBack)
{
    SendMessageA(GetDlgItem(box, 101), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(GetActiveWindow(), nullptr) << "the box had no owner to give activation to";
}

TEST_F(NoticeBox, ItsTimerClosesIt)
{
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SetTimer(box, 1, 40, nullptr), 1u);
    ASSERT_TRUE(pump_until([&] { return !IsWindow(box); }, box));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(g_timer_messages, 1);
    EXPECT_EQ(GetActiveWindow(), app);
}

} // namespace
