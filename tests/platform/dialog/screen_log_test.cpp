// The screen log: its line format, one line per thing a user sees, and
// whole lines from processes that write at the same time.
#include "dialog/screen_log.h"
#include "dialog/screen_log_reader.h"
#include "dialog_test_util.h"
#include "test_support.h"
#include "test_templates.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

using namespace kolm::test;
using namespace kolm::platform;

namespace {

TEST(ScreenLogFormat, EscapesAndParsesBack)
{
    struct Row {
        std::string text;
        std::string escaped;
    };
    const Row rows[] = {
        { "plain", "plain" },
        { "\nAttempting to connect to service host:1", "\\nAttempting to connect to service host:1" },
        { "C:\\WINDOWS\\kolmvx.iss", "C:\\\\WINDOWS\\\\kolmvx.iss" },
        { "say \"hi\"", "say \\\"hi\\\"" },
        { "a\r\nb\tc", "a\\r\\nb\\tc" },
        { std::string("\x01\x1f\x7f", 3), "\\x01\\x1F\\x7F" },
        { "caf\xE9", "caf\xE9" }, // other bytes as they are
        { "", "" },
    };
    for (const auto& r : rows) {
        EXPECT_EQ(escape_screen_text(r.text), r.escaped) << r.escaped;
        const std::string line = format_screen_line("kolm32", "dialog-text", "Cap \"1\"", r.text, { { "id", "7" } });
        auto parsed = parse_screen_line(line);
        ASSERT_TRUE(parsed) << line;
        EXPECT_EQ(parsed->program, "kolm32");
        EXPECT_EQ(parsed->kind, "dialog-text");
        EXPECT_EQ(parsed->caption, "Cap \"1\"");
        EXPECT_EQ(parsed->text, r.text) << r.escaped;
        EXPECT_EQ(parsed->field("id"), "7");
    }
    EXPECT_EQ(format_screen_line("kolm32", "dialog-text", "Tarvizone Redirector", "\nAttempting to connect to service host:1"),
              "kolm32 dialog-text \"Tarvizone Redirector\" \"\\nAttempting to connect to service host:1\"\n");
    EXPECT_EQ(format_screen_line("my prog", "messagebox", "c", "t", { { "answer", "ID OK" } }),
              "my_prog messagebox \"c\" \"t\" answer=ID_OK\n")
        << "names and values carry no spaces";

    const char* malformed[] = {
        "",
        "kolm32",
        "kolm32 dialog-text",
        "kolm32 dialog-text \"open",
        "kolm32 dialog-text \"c\" \"bad \\q escape\"",
        "kolm32 dialog-text \"c\" \"t\" novalue",
        "kolm32 dialog-text \"c\" \"t\"  double=space",
        "kolm32 dialog-text \"c\" \"\\x4\"",
    };
    for (const char* m : malformed)
        EXPECT_FALSE(parse_screen_line(m)) << m;
}

class ScreenLog : public RootedTest {
protected:
    void SetUp() override
    {
        register_test_templates();
        reset_script();
    }
    // (kind, caption, text) of this process's lines.
    static std::vector<std::tuple<std::string, std::string, std::string>> seen()
    {
        std::vector<std::tuple<std::string, std::string, std::string>> out;
        for (const auto& l : read_screen_log())
            if (l.program == screen_program_name())
                out.emplace_back(l.kind, l.caption, l.text);
        return out;
    }
};

TEST_F(ScreenLog, OneLinePerThingShownAndPerRealChange)
{
    using Lines = std::vector<std::tuple<std::string, std::string, std::string>>;
    HWND frame = create_window("Main Window");
    HWND box = CreateDialogParamA(nullptr, MAKEINTRESOURCE(kNoticeOk), nullptr, ScriptedDlgProc, 0);
    ASSERT_NE(box, nullptr);
    SetDlgItemTextA(box, -1, "\nfirst");
    SetDlgItemTextA(box, -1, "\nfirst"); // no change, no line
    SetWindowTextA(GetDlgItem(box, 101), "Close"); // a button's text is not a notice
    SetDlgItemTextA(box, -1, "first\nsecond");
    ShowWindow(box, SW_HIDE);
    SetDlgItemTextA(box, -1, "while hidden"); // nobody sees it
    ShowWindow(box, SW_SHOWNORMAL);
    DestroyWindow(box);
    DestroyWindow(frame);
    EXPECT_EQ(seen(), (Lines {
                          { "window-shown", "Main Window", "" },
                          { "dialog-shown", "Tarvizone Redirector", "Redirector notice" },
                          { "dialog-text", "Tarvizone Redirector", "\nfirst" },
                          { "dialog-text", "Tarvizone Redirector", "first\nsecond" },
                          { "dialog-closed", "Tarvizone Redirector", "" },
                          { "dialog-shown", "Tarvizone Redirector", "while hidden" },
                          { "dialog-closed", "Tarvizone Redirector", "" },
                          { "window-closed", "Main Window", "" },
                      }));
}

TEST_F(ScreenLog, LinesOfTwoProcessesNeverInterleave)
{
    // Long lines, so that a line written in pieces would show.
    constexpr int count = 150;
    const std::string a(2000, 'a'), b(3000, 'b');
    {
        Peer first({ "boxes", std::to_string(count), a });
        Peer second({ "boxes", std::to_string(count), b });
        ASSERT_TRUE(first.wait_exit());
        ASSERT_TRUE(second.wait_exit());
    }
    std::map<std::string, int> next; // per prefix: the index expected next
    int lines = 0;
    for (const auto& l : read_screen_log()) {
        ASSERT_EQ(l.kind, "messagebox") << l.raw.substr(0, 80);
        ++lines;
        const std::string& prefix = l.text[0] == 'a' ? a : b;
        ASSERT_EQ(l.text.compare(0, prefix.size(), prefix), 0) << "mixed line " << l.raw.substr(0, 80);
        EXPECT_EQ(l.text.substr(prefix.size()), std::to_string(next[prefix]++)) << "lost or reordered";
    }
    EXPECT_EQ(lines, 2 * count);
}

// Past its limit the log is moved aside as screen.log.1 and starts anew:
// it never holds more than the limit and a line, nor does the older one.
TEST_F(ScreenLog, StaysBoundedByRotation)
{
    const auto log = screen_log_path();
    const auto rotated = rotated_screen_log_path(log);
    const std::string text(3000, 'x');
    const uint64_t line_size = format_screen_line(screen_program_name(), "dialog-text", "c", text).size();
    for (uint64_t written = 0; written < 4 * kScreenLogLimit; written += line_size) {
        ASSERT_TRUE(append_screen_line(format_screen_line(screen_program_name(), "dialog-text", "c", text)));
        std::error_code gone; // right after a rotation there is no log until the next line
        const auto size = std::filesystem::file_size(log, gone);
        ASSERT_LT(gone ? 0 : size, kScreenLogLimit + line_size) << "after " << written << " bytes";
    }
    ASSERT_TRUE(std::filesystem::exists(rotated));
    EXPECT_GE(std::filesystem::file_size(rotated), kScreenLogLimit);
    EXPECT_LT(std::filesystem::file_size(rotated), kScreenLogLimit + line_size);
}

// Two processes write past the limit while a reader follows the log: the
// reader gets every line once, in order, across the rotation, and no line
// is split or lost in either file.
TEST_F(ScreenLog, ReaderFollowsTheRotationOfLinesFromTwoProcesses)
{
    constexpr int count = 250; // 2 x 250 lines of 2 and 3 KB: past the limit once
    const std::string a(2000, 'a'), b(3000, 'b');
    ScreenLogReader reader;
    std::vector<ScreenLine> followed;
    {
        Peer first({ "boxes", std::to_string(count), a });
        Peer second({ "boxes", std::to_string(count), b });
        // Reads as the log grows (every line read is offered to the match).
        auto keep = [&](const ScreenLine& l) {
            followed.push_back(l);
            return false;
        };
        const auto now = std::chrono::milliseconds(0);
        while (!first.wait_exit(now) || !second.wait_exit(now))
            reader.wait_for(keep, std::chrono::milliseconds(50));
    }
    auto rest = reader.read_new();
    followed.insert(followed.end(), rest.begin(), rest.end());
    ASSERT_TRUE(std::filesystem::exists(rotated_screen_log_path(screen_log_path()))) << "never rotated";

    auto check = [&](const std::vector<ScreenLine>& lines, const char* who) {
        std::map<std::string, int> next; // per prefix: the index expected next
        for (const auto& l : lines) {
            ASSERT_EQ(l.kind, "messagebox") << who << ": " << l.raw.substr(0, 80);
            const std::string& prefix = l.text[0] == 'a' ? a : b;
            ASSERT_EQ(l.text.compare(0, prefix.size(), prefix), 0) << who << ": mixed line";
            ASSERT_EQ(l.text.substr(prefix.size()), std::to_string(next[prefix]++)) << who << ": lost or reordered";
        }
        EXPECT_EQ(lines.size(), 2u * count) << who;
    };
    check(followed, "the reader");
    check(read_screen_log(), "the two files");
}

TEST_F(ScreenLog, ReaderWaitsForALineWithinItsBound)
{
    ScreenLogReader reader;
    EXPECT_FALSE(reader.wait_for("nothing like this", std::chrono::milliseconds(30)));
    std::thread writer([] {
        append_screen_line(format_screen_line("other", "dialog-text", "c", "one"));
        append_screen_line(format_screen_line("other", "dialog-text", "c", "two"));
        append_screen_line(format_screen_line("other", "dialog-text", "c", "three"));
    });
    auto two = reader.wait_for([](const ScreenLine& l) { return l.text == "two"; });
    writer.join();
    ASSERT_TRUE(two);
    EXPECT_EQ(two->program, "other");
    auto rest = reader.read_new();
    ASSERT_EQ(rest.size(), 1u) << "what came after the match is kept";
    EXPECT_EQ(rest[0].text, "three");
    EXPECT_TRUE(reader.read_new().empty());
}

} // namespace
