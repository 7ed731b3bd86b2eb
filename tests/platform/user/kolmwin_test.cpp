// The kolmwin tool: its argument parsing, and each verb against a peer.
#include "test_support.h"
#include "kolmwin_args.h"
#include "peer_process.h"
#include "peer_protocol.h"

#include <cstdio>

using kolm::test::PeerProcess;
using kolm::test::run_command;

namespace {

std::string tool(const std::string& args)
{
    return kolm::test::bin_path("kolmwin").string() + " " + args + " 2>/dev/null";
}

std::string hex(HWND h)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", HandleToDword(h));
    return buf;
}

} // namespace

TEST(KolmwinArgs, NumbersMessagesAndHandles)
{
    struct NumberRow {
        const char* text;
        std::optional<int64_t> value;
    };
    const NumberRow numbers[] = {
        { "0", 0 }, { "1175", 1175 }, { "0x49D", 0x49D }, { "0XfF", 255 }, { "-20", -20 },
        { "", std::nullopt }, { "0x", std::nullopt }, { "12a", std::nullopt }, { "-", std::nullopt },
        { "99999999999999999999", std::nullopt },
    };
    for (const auto& row : numbers)
        EXPECT_EQ(kolmwin::parse_number(row.text), row.value) << "'" << row.text << "'";

    struct MessageRow {
        const char* text;
        std::optional<UINT> value;
    };
    const MessageRow messages[] = {
        { "WM_CLOSE", WM_CLOSE }, { "wm_destroy", WM_DESTROY }, { "WM_USER+151", 1175 },
        { "WM_USER+0x5", WM_USER + 5 }, { "1181", 1181 }, { "0x10", 0x10 }, { "WM_NOPE", std::nullopt },
        { "WM_USER+", std::nullopt }, { "-1", std::nullopt },
    };
    for (const auto& row : messages)
        EXPECT_EQ(kolmwin::parse_message(row.text), row.value) << "'" << row.text << "'";

    EXPECT_EQ(kolmwin::parse_hwnd("0x00ABCDEF"), DwordToHandle<HWND>(0xABCDEF));
    EXPECT_FALSE(kolmwin::parse_hwnd("0"));
    EXPECT_FALSE(kolmwin::parse_hwnd("0x100000000"));
    EXPECT_FALSE(kolmwin::optional_name("-"));
    EXPECT_FALSE(kolmwin::optional_name(""));
    EXPECT_EQ(kolmwin::optional_name("kolm32"), "kolm32");
}

class KolmwinTool : public kolm::test::RootedTest { };

TEST_F(KolmwinTool, DrivesAPeerProcess)
{
    PeerProcess p("kolm32", "kolm32");
    ASSERT_TRUE(p.ready());
    const std::string h = hex(p.hwnd());

    struct Row {
        std::string args;
        int status;
        std::string out;
    };
    const Row rows[] = {
        { "find kolm32 kolm32", 0, h + "\n" },
        { "find - KOLM32", 0, h + "\n" },
        { "find KOLM32 \"\"", 0, h + "\n" },
        { "find nope -", 1, "" },
        { "send " + h + " WM_USER+1 5 6", 0, "11\n" },
        { "send " + h + " 0x401 0x10 -20", 0, "-4\n" },
        { "send " + h + " WM_USER+2 0 --text 'hello there'", 0, "11\n" },
        { "gettext " + h, 0, "got:hello there\n" },
        { "send " + h + " WM_SETTEXT 0 --text renamed", 0, "1\n" },
        { "find - renamed", 0, h + "\n" },
        { "send " + h + " WM_GETTEXTLENGTH", 0, "7\n" },
        { "post " + h + " WM_USER+1 1 2", 0, "" },
        { "post " + h + " WM_USER+2 0 --text no", 1, "" },
        { "post " + h + " WM_SETTEXT", 1, "" },
        { "send 0x00000001 WM_USER", 1, "" },
        { "send " + h + " WM_BOGUS", 1, "" },
        { "frobnicate", 1, "" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        auto r = run_command(tool(row.args));
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.out, row.out);
    }

    // Posting WM_DESTROY ends the program, as the installer does.
    auto r = run_command(tool("post " + h + " WM_DESTROY"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(p.wait_exit(), peer::exit_code);
    r = run_command(tool("send " + h + " WM_USER+1 1 1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(run_command(tool("find kolm32 kolm32")).status, 1);
}
