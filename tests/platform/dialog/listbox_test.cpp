// List boxes: the LB_* rules as tables, and what the parent hears from a
// user's clicks.
#include "dialog/listbox.h"
#include "dialog/listbox_model.h"
#include "user/window.h"
#include "dialog_test_util.h"
#include "test_support.h"
#include "test_templates.h"

#include <gtest/gtest.h>

using namespace kolm::test;
using kolm::platform::ListBoxModel;
using kolm::platform::SelectionMode;

namespace {

std::vector<std::string> items_of(const ListBoxModel& m)
{
    std::vector<std::string> out;
    for (int i = 0; i < m.count(); ++i)
        out.push_back(*m.text(i));
    return out;
}

ListBoxModel filled(SelectionMode mode, std::initializer_list<const char*> texts, bool sorted = false)
{
    ListBoxModel m(mode, sorted);
    for (const char* t : texts)
        m.add(t);
    return m;
}

TEST(ListBoxModel, SortedAddFindsEachItemsPlaceWithoutCase)
{
    ListBoxModel m(SelectionMode::Single, true);
    struct Row {
        const char* text;
        int index;
    };
    const Row rows[] = { { "delta", 0 }, { "Alpha", 0 }, { "charlie", 1 }, { "BRAVO", 1 }, { "echo", 4 }, { "alpha", 0 } };
    for (const auto& r : rows)
        EXPECT_EQ(m.add(r.text), r.index) << r.text;
    EXPECT_EQ(items_of(m), (std::vector<std::string> { "alpha", "Alpha", "BRAVO", "charlie", "delta", "echo" }));
    // LB_INSERTSTRING never sorts.
    EXPECT_EQ(m.insert(1, "zulu"), 1);
    EXPECT_EQ(m.insert(-1, "aaa"), 7);
    EXPECT_EQ(*m.text(7), "aaa");
}

TEST(ListBoxModel, FindSearchesAfterStartAndWrapsRound)
{
    const ListBoxModel m = filled(SelectionMode::Single, { "[IP ]host:1", "[IPX]server", "[IP ]Host:2", "[ip ]other" });
    struct Row {
        int start;
        const char* text;
        bool exact;
        int found;
    };
    const Row rows[] = {
        { -1, "[ip ]", false, 0 },       // from the start, case-insensitive prefix
        { 0, "[ip ]", false, 2 },        // after item 0
        { 2, "[ip ]", false, 3 },
        { 3, "[ip ]", false, 0 },        // wraps past the end
        { 0, "[IP ]HOST:1", false, 0 },  // the start item itself comes last
        { 99, "[ipx]", false, 1 },       // a start past the end searches from the first
        { -1, "", false, 0 },            // an empty prefix matches the first item searched
        { 1, "", false, 2 },
        { -1, "[IPX]", false, 1 },
        { -1, "nothing", false, LB_ERR },
        { -1, "[ip ]host:2", true, 2 },  // exact: whole text, no case
        { -1, "[ip ]host", true, LB_ERR },
        { 2, "[IP ]HOST:2", true, 2 },   // found on wrapping to the start item
    };
    for (const auto& r : rows)
        EXPECT_EQ(m.find(r.start, r.text, r.exact), r.found)
            << "start " << r.start << " \"" << r.text << "\"" << (r.exact ? " exact" : "");
}

TEST(ListBoxModel, SelectionBySingleMultipleAndExtendedRules)
{
    struct Row {
        const char* what;
        SelectionMode mode;
        std::function<void(ListBoxModel&)> act;
        std::vector<int> selected; // LB_GETSEL of items 0..4
        int current;               // LB_GETCURSEL
    };
    auto click = [](int i, bool shift = false, bool ctrl = false) {
        return [=](ListBoxModel& m) { m.click(i, shift, ctrl); };
    };
    const Row rows[] = {
        { "single: set", SelectionMode::Single, [](ListBoxModel& m) { m.set_current(2); }, { 0, 0, 1, 0, 0 }, 2 },
        { "single: click moves it", SelectionMode::Single, [](ListBoxModel& m) { m.set_current(2); m.click(4, true, true); },
          { 0, 0, 0, 0, 1 }, 4 },
        { "single: -1 clears", SelectionMode::Single, [](ListBoxModel& m) { m.set_current(2); m.set_current(-1); },
          { 0, 0, 0, 0, 0 }, LB_ERR },
        { "single: delete the selection", SelectionMode::Single, [](ListBoxModel& m) { m.set_current(2); m.remove(2); },
          { 0, 0, 0, 0 }, LB_ERR },
        { "single: delete before it", SelectionMode::Single, [](ListBoxModel& m) { m.set_current(2); m.remove(0); },
          { 0, 1, 0, 0 }, 1 },
        { "multiple: clicks toggle", SelectionMode::Multiple, [&](ListBoxModel& m) { click(1)(m); click(3)(m); click(1)(m); },
          { 0, 0, 0, 1, 0 }, 1 },
        { "extended: plain click", SelectionMode::Extended, [&](ListBoxModel& m) { click(1)(m); click(3)(m); },
          { 0, 0, 0, 1, 0 }, 3 },
        { "extended: shift ranges from the anchor", SelectionMode::Extended, [&](ListBoxModel& m) { click(1)(m); click(3, true)(m); },
          { 0, 1, 1, 1, 0 }, 3 },
        { "extended: shift again keeps the anchor", SelectionMode::Extended,
          [&](ListBoxModel& m) { click(2)(m); click(4, true)(m); click(0, true)(m); }, { 1, 1, 1, 0, 0 }, 0 },
        { "extended: ctrl adds", SelectionMode::Extended, [&](ListBoxModel& m) { click(0)(m); click(4, false, true)(m); },
          { 1, 0, 0, 0, 1 }, 4 },
        { "extended: LB_SETSEL all, then one off", SelectionMode::Extended,
          [](ListBoxModel& m) { m.set_selected(true, -1); m.set_selected(false, 2); }, { 1, 1, 0, 1, 1 }, 0 },
        { "extended: selection moves with inserts", SelectionMode::Extended,
          [](ListBoxModel& m) { m.set_selected(true, 1); m.insert(0, "new"); m.remove(5); }, { 0, 0, 1, 0, 0 }, 2 },
    };
    for (const auto& r : rows) {
        ListBoxModel m = filled(r.mode, { "a", "b", "c", "d", "e" });
        r.act(m);
        std::vector<int> got;
        for (int i = 0; i < m.count(); ++i)
            got.push_back(m.selected(i));
        EXPECT_EQ(got, r.selected) << r.what;
        EXPECT_EQ(m.current(), r.current) << r.what;
        if (r.mode != SelectionMode::Single) {
            int items[8];
            const int n = m.selected_items(items, 8);
            EXPECT_EQ(n, m.selected_count()) << r.what;
            for (int k = 0; k < n; ++k)
                EXPECT_EQ(r.selected[static_cast<size_t>(items[k])], 1) << r.what << ": item " << items[k];
        }
    }
}

TEST(ListBoxModel, ErrorsAsWindowsAnswersThem)
{
    ListBoxModel single = filled(SelectionMode::Single, { "a", "b" });
    ListBoxModel multi = filled(SelectionMode::Multiple, { "a", "b" });
    int items[2];
    struct Row {
        const char* what;
        int got;
        int want;
    };
    const Row rows[] = {
        { "delete past the end", single.remove(2), LB_ERR },
        { "delete -1", single.remove(-1), LB_ERR },
        { "delete returns the count left", filled(SelectionMode::Single, { "a", "b" }).remove(0), 1 },
        { "insert past the end", single.insert(3, "x"), LB_ERR },
        { "text length of no item", single.text(5) ? 0 : LB_ERR, LB_ERR },
        { "GETSEL out of range", single.selected(2), LB_ERR },
        { "SETCURSEL out of range", single.set_current(2), LB_ERR },
        { "SETSEL on single selection", single.set_selected(true, 0), LB_ERR },
        { "GETSELCOUNT on single selection", single.selected_count(), LB_ERR },
        { "GETSELITEMS on single selection", single.selected_items(items, 2), LB_ERR },
        { "SETCURSEL on multiple selection", multi.set_current(0), LB_ERR },
        { "SETSEL out of range", multi.set_selected(true, 2), LB_ERR },
        { "GETCURSEL with nothing selected", single.current(), LB_ERR },
        { "SELECTSTRING with no match", single.select_string(-1, "zz"), LB_ERR },
        { "SELECTSTRING", single.select_string(-1, "B"), 1 },
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.got, r.want) << r.what;

    ListBoxModel full(SelectionMode::Single, false);
    for (int i = 0; i < ListBoxModel::max_items; ++i)
        ASSERT_EQ(full.add("x"), i);
    EXPECT_EQ(full.add("one too many"), LB_ERRSPACE);
    EXPECT_EQ(full.insert(0, "one too many"), LB_ERRSPACE);
}

// The window side: messages, buffers and notifications.
class ListBoxWindow : public RootedTest {
protected:
    void SetUp() override
    {
        register_test_templates();
        reset_script();
        dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCE(kEveryControl), nullptr, ScriptedDlgProc, 0);
        ASSERT_NE(dlg, nullptr);
        list = GetDlgItem(dlg, 116);
        for (const char* t : { "one", "two", "three" })
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
    }
    void TearDown() override { DestroyWindow(dlg); }
    std::vector<int> notes()
    {
        std::vector<int> out;
        for (const auto& [id, code] : script().commands())
            if (id == 116 && code != LBN_SETFOCUS && code != LBN_KILLFOCUS)
                out.push_back(code);
        return out;
    }
    HWND dlg = nullptr;
    HWND list = nullptr;
};

TEST_F(ListBoxWindow, TextComesOutWhole)
{
    EXPECT_EQ(SendMessageA(list, LB_GETTEXTLEN, 2, 0), 5);
    char buf[16];
    std::memset(buf, 0xbd, sizeof buf);
    EXPECT_EQ(SendMessageA(list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(buf)), 5);
    EXPECT_STREQ(buf, "three");
    EXPECT_EQ(static_cast<unsigned char>(buf[6]), 0xbd) << "nothing written past the NUL";
    EXPECT_EQ(SendMessageA(list, LB_GETTEXT, 3, reinterpret_cast<LPARAM>(buf)), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_GETTEXTLEN, 3, 0), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_ADDSTRING, 0, 0), 3) << "a NULL text is an empty item";
    EXPECT_EQ(SendMessageA(list, LB_RESETCONTENT, 0, 0), TRUE);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(ListBoxWindow, UserClicksNotifyOnlyWithNotifyStyle)
{
    SendMessageA(list, LB_SETSEL, TRUE, 0); // the program's own changes do not notify
    SendMessageA(list, LB_SELECTSTRING, -1, reinterpret_cast<LPARAM>("tw"));
    EXPECT_TRUE(notes().empty());

    ASSERT_TRUE(kolm::platform::listbox_user_click(list, 2));
    // Items are 13 pixels high: y = 15 is item 1; Ctrl comes in wParam.
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(4, 15));
    SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(4, 1));
    EXPECT_EQ(notes(), (std::vector<int> { LBN_SELCHANGE, LBN_SELCHANGE, LBN_SELCHANGE, LBN_DBLCLK }));
    EXPECT_EQ(GetFocus(), list);
    int sel[3] = { -1, -1, -1 };
    ASSERT_EQ(SendMessageA(list, LB_GETSELITEMS, 3, reinterpret_cast<LPARAM>(sel)), 1);
    EXPECT_EQ(sel[0], 0);

    EXPECT_FALSE(kolm::platform::listbox_user_click(list, 7)) << "no such item";
    EnableWindow(list, FALSE);
    EXPECT_FALSE(kolm::platform::listbox_user_click(list, 1)) << "disabled";
    EXPECT_EQ(notes().size(), 4u);

    // Without LBS_NOTIFY the selection changes and the parent hears nothing.
    EnableWindow(list, TRUE);
    SetWindowLongA(list, GWL_STYLE, GetWindowLongA(list, GWL_STYLE) & ~LBS_NOTIFY);
    ASSERT_TRUE(kolm::platform::listbox_user_click(list, 1));
    EXPECT_EQ(notes().size(), 4u);
    EXPECT_EQ(SendMessageA(list, LB_GETSEL, 1, 0), 1);
}

TEST_F(ListBoxWindow, RedrawOffHidesChangesUntilItIsOnAgain)
{
    struct Counter : kolm::platform::WindowObserver {
        HWND list;
        int changes = 0;
        void window_changed(HWND h, kolm::platform::WindowChange c) override
        {
            changes += h == list && c == kolm::platform::WindowChange::Content;
        }
    } counter;
    counter.list = list;
    auto* previous = kolm::platform::window_observer();
    kolm::platform::set_window_observer(&counter);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_DELETESTRING, 0, 0);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("four"));
    EXPECT_EQ(counter.changes, 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    EXPECT_EQ(counter.changes, 1);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("five"));
    EXPECT_EQ(counter.changes, 2);
    kolm::platform::set_window_observer(previous);
    auto view = kolm::platform::listbox_view(list);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->items, (std::vector<std::string> { "two", "three", "four", "five" }));
}

} // namespace
