// Modal dialogs: the loop of DialogBoxParamA, EndDialog, and the owner
// that takes no input meanwhile.
#include "dialog_test_util.h"
#include "test_support.h"
#include "test_templates.h"

#include <gtest/gtest.h>

#include "dialog/dialog_manager.h"

#include <atomic>
#include <thread>

using namespace kolm::test;

namespace {

class ModalDialog : public RootedTest {
protected:
    void SetUp() override
    {
        register_test_templates();
        reset_script();
        owner = create_window("Owner");
        ASSERT_NE(owner, nullptr);
        ASSERT_EQ(GetActiveWindow(), owner);
    }
    void TearDown() override
    {
        if (IsWindow(owner))
            DestroyWindow(owner);
    }
    INT_PTR run(LPARAM param = 0)
    {
        return DialogBoxParamA(nullptr, MAKEINTRESOURCE(kModal), owner, ScriptedDlgProc, param);
    }
    HWND owner = nullptr;
};

void click_later(HWND dlg, int id)
{
    PostMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

TEST_F(ModalDialog, NestedDialogsEndFromTheirButtonsAndGiveTheOwnerBack)
{
    HWND outer = nullptr, inner = nullptr;
    struct Seen {
        bool owner_enabled_in_outer = true;
        bool outer_visible = false;
        bool outer_enabled_in_inner = true;
        bool owner_enabled_in_inner = true;
        INT_PTR inner_result = 0;
        bool outer_enabled_after_inner = false;
        bool outer_active_after_inner = false;
    } seen;
    script().on = [&](HWND h, UINT msg, WPARAM w, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            if (!outer) {
                outer = h;
                seen.owner_enabled_in_outer = IsWindowEnabled(owner);
            } else {
                inner = h;
                seen.outer_enabled_in_inner = IsWindowEnabled(outer);
                seen.owner_enabled_in_inner = IsWindowEnabled(owner);
            }
            click_later(h, 150);
            return TRUE;
        }
        if (msg == WM_COMMAND && LOWORD(w) == 150 && HIWORD(w) == BN_CLICKED) {
            if (h == inner) {
                EndDialog(h, 11);
                return TRUE;
            }
            seen.outer_visible = IsWindowVisible(h);
            seen.inner_result = DialogBoxParamA(nullptr, MAKEINTRESOURCE(kModal), h, ScriptedDlgProc, 0);
            seen.outer_enabled_after_inner = IsWindowEnabled(h);
            seen.outer_active_after_inner = GetActiveWindow() == h;
            EndDialog(h, 42);
            return TRUE;
        }
        return FALSE;
    };
    EXPECT_EQ(run(), 42);
    EXPECT_FALSE(seen.owner_enabled_in_outer) << "the owner is disabled while its dialog runs";
    EXPECT_TRUE(seen.outer_visible);
    EXPECT_FALSE(seen.outer_enabled_in_inner);
    EXPECT_FALSE(seen.owner_enabled_in_inner);
    EXPECT_EQ(seen.inner_result, 11);
    EXPECT_TRUE(seen.outer_enabled_after_inner);
    EXPECT_TRUE(seen.outer_active_after_inner);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(GetActiveWindow(), owner);
    EXPECT_FALSE(IsWindow(outer));
    EXPECT_FALSE(IsWindow(inner));
}

TEST_F(ModalDialog, EndDialogDuringInitReturnsWithoutShowing)
{
    script().on = [](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            EndDialog(h, 7);
        return FALSE;
    };
    EXPECT_EQ(run(), 7);
    for (const auto& m : script().log)
        EXPECT_FALSE(m.message == WM_SHOWWINDOW && m.wparam) << "shown although it had ended";
    EXPECT_TRUE(IsWindowEnabled(owner));
}

TEST_F(ModalDialog, QuitEndsTheDialogAndStaysForTheProgramsLoop)
{
    script().on = [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            PostQuitMessage(5);
        return FALSE;
    };
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(IsWindowEnabled(owner));
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(m.wParam, 5u);
}

TEST_F(ModalDialog, EndDialogFromAnotherThreadWakesTheLoop)
{
    std::thread other;
    script().on = [&](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            other = std::thread([h] { EndDialog(h, 9); });
        return FALSE;
    };
    EXPECT_EQ(run(), 9);
    other.join();
    EXPECT_TRUE(IsWindowEnabled(owner));
}

// A click sent by an automation tool (WM_KOLM_CLICK) is answered as soon as
// the modal dialog that it opens is up; a plain BM_CLICK only when that
// dialog has ended. Either way the click itself happens once.
TEST_F(ModalDialog, AnAutomationClickIsAnsweredOnceTheModalDialogItOpensIsUp)
{
    for (const UINT click : { kolm::platform::WM_KOLM_CLICK, static_cast<UINT>(BM_CLICK) }) {
        SCOPED_TRACE(click);
        reset_script();
        std::atomic<HWND> inner { nullptr };
        HWND outer = nullptr;
        int opened = 0;
        script().on = [&](HWND h, UINT msg, WPARAM w, LPARAM) -> INT_PTR {
            if (msg == WM_INITDIALOG && outer) {
                inner = h;
            } else if (msg == WM_COMMAND && LOWORD(w) == 150 && h == outer) {
                ++opened;
                DialogBoxParamA(nullptr, MAKEINTRESOURCE(kModal), outer, ScriptedDlgProc, 0);
                return TRUE;
            }
            return FALSE;
        };
        outer = CreateDialogParamA(nullptr, MAKEINTRESOURCE(kModal), owner, ScriptedDlgProc, 0);
        ASSERT_TRUE(outer);
        ShowWindow(outer, SW_SHOW);
        HWND button = GetDlgItem(outer, 150);

        std::atomic<bool> answered { false };
        std::atomic<bool> inner_up_at_answer { false };
        std::atomic<bool> answered_before_end { false };
        std::thread clicker([&] {
            SendMessageA(button, click, 0, 0);
            HWND i = inner.load();
            inner_up_at_answer = i && IsWindowVisible(i);
            answered = true;
        });
        // The test's thread runs the modal loop inside the click; this one
        // ends the dialog once it has seen what it came to see.
        std::thread closer([&] {
            if (!wait_until([&] { return inner.load() && IsWindowVisible(inner.load()); }))
                return;
            if (click == kolm::platform::WM_KOLM_CLICK)
                wait_until([&] { return answered.load(); });
            else
                wait_until([&] { return answered.load(); }, std::chrono::milliseconds(200));
            answered_before_end = answered.load();
            EndDialog(inner.load(), 1);
            // Wakes the test's own loop once the modal loop is over.
            wait_until([&] { return answered.load() && !IsWindow(inner.load()); });
            PostMessageA(owner, WM_NULL, 0, 0);
        });
        ASSERT_TRUE(pump_until([&] { return answered.load(); }));
        clicker.join();
        closer.join();
        if (click == kolm::platform::WM_KOLM_CLICK) {
            EXPECT_TRUE(answered_before_end.load()) << "answered while the dialog is up";
            EXPECT_TRUE(inner_up_at_answer.load());
        } else {
            EXPECT_FALSE(answered_before_end.load()) << "a plain click waits for the dialog to end";
        }
        EXPECT_EQ(opened, 1);
        DestroyWindow(outer);
    }
}

} // namespace
