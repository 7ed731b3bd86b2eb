// kolmwin's dialog verbs driving a dialog of another process by control id:
// what a script sees, and what the dialog procedure over there is told.
#include "child_process.h"
#include "test_support.h"

#include "win32.h"

#include <cstdio>
#include <gtest/gtest.h>

using namespace kolm::test;

namespace {

std::string tool(const std::string& args)
{
    return bin_path("kolmwin").string() + " " + args + " 2>/dev/null";
}

class KolmwinDialog : public RootedTest {
protected:
    void SetUp() override
    {
        peer = std::make_unique<ChildProcess>(bin_path("ui_test_peer").string(), std::vector<std::string> { "dialog" },
                                              std::vector<std::string> { "KOLM_UI=headless" });
        ASSERT_TRUE(peer->started());
        auto ready = peer->wait_line("ready ");
        ASSERT_TRUE(ready);
        dlg = ready->c_str();
    }
    // The next WM_COMMAND the peer's dialog reports, as "ID CODE".
    std::optional<std::string> next_command() { return peer->wait_line("command "); }

    std::unique_ptr<ChildProcess> peer;
    std::string dlg;
};

TEST_F(KolmwinDialog, ListsEveryControlWithItsState)
{
    auto r = run_command(tool("controls " + dlg));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "-1 BUTTON enabled visible \"Protocol\"\n"
                     "111 BUTTON enabled visible checked=1 \"&IP\"\n"
                     "112 BUTTON enabled visible checked=0 \"IP&X\"\n"
                     "110 BUTTON enabled visible checked=0 \"Trace\"\n"
                     "-1 STATIC enabled visible \"Port @ COM3 (100%)\"\n"
                     "106 EDIT enabled visible \"host:1\"\n"
                     "107 EDIT enabled visible \"Status line one\\r\\nline two\"\n"
                     "102 LISTBOX enabled visible items=3 selected= \"\"\n"
                     "1 BUTTON enabled visible \"OK\"\n"
                     "130 BUTTON enabled visible \"More...\"\n"
                     "120 BUTTON disabled visible \"Remove\"\n"
                     "2 BUTTON enabled visible \"Cancel\"\n");
    r = run_command(tool("items " + dlg + " 102"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0 [IP ]host:1\n1 [IPX]server\n2 [IP ]other:2\n");
}

TEST_F(KolmwinDialog, ClicksSelectsAndEditsReachTheDialog)
{
    struct Row {
        std::string args;
        int status;
        std::vector<std::string> commands; // what the dialog is told, in order
    };
    const Row rows[] = {
        { "click " + dlg + " 110", 0, { "110 0" } }, // BN_CLICKED
        { "click " + dlg + " 112", 0, { "112 0" } },
        // LBN_SETFOCUS as the list takes the focus, then LBN_SELCHANGE.
        { "select " + dlg + " 102 2", 0, { "102 4", "102 1" } },
        // A double click: its first click's change, then the second
        // click's change and LBN_DBLCLK.
        { "select " + dlg + " 102 1 --double", 0, { "102 1", "102 1", "102 2" } },
        // EN_UPDATE and EN_CHANGE, as typing gives.
        { "settext " + dlg + " 106 IP:far:3", 0, { "106 1024", "106 768" } },
        { "click " + dlg + " 120", 1, {} }, // disabled
        { "click " + dlg + " 102", 1, {} }, // not a button
        { "click " + dlg + " 999", 1, {} }, // no such control
        { "select " + dlg + " 102 3", 1, {} }, // past the last item
        { "select " + dlg + " 102 -1", 1, {} },
        { "select " + dlg + " 106 0", 1, {} }, // not a list box
        { "settext 0x00000001 106 x", 1, {} }, // no such window
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        auto r = run_command(tool(row.args));
        EXPECT_EQ(r.status, row.status);
        for (const auto& c : row.commands)
            EXPECT_EQ(next_command(), c);
    }
    // Nothing more reached the dialog: what comes next is the list's
    // LBN_KILLFOCUS and the click sent now.
    EXPECT_EQ(run_command(tool("click " + dlg + " 111")).status, 0);
    EXPECT_EQ(next_command(), "102 5");
    EXPECT_EQ(next_command(), "111 0");

    auto r = run_command(tool("controls " + dlg));
    EXPECT_NE(r.out.find("110 BUTTON enabled visible checked=1 \"Trace\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("111 BUTTON enabled visible checked=1 \"&IP\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("112 BUTTON enabled visible checked=0 \"IP&X\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("102 LISTBOX enabled visible items=3 selected=1 \"\""), std::string::npos) << r.out;
    r = run_command(tool("gettext " + dlg + " 106"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "IP:far:3\n");
}

TEST_F(KolmwinDialog, AClickThatOpensAModalDialogDoesNotHangTheScript)
{
    auto r = run_command(tool("click " + dlg + " 130"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(next_command(), "130 0");
    auto nested = peer->wait_line("nested ");
    ASSERT_TRUE(nested);
    // The owner is disabled while its modal dialog runs.
    EXPECT_EQ(run_command(tool("click " + dlg + " 1")).status, 1);
    EXPECT_EQ(run_command(tool("click " + *nested + " 1")).status, 0);
    EXPECT_TRUE(peer->wait_line("nested-ended"));
    EXPECT_EQ(run_command(tool("click " + dlg + " 1")).status, 0);
    EXPECT_EQ(next_command(), "1 0");
    EXPECT_EQ(peer->wait_exit(), 0);
}

} // namespace
