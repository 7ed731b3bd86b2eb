// Message boxes without a display: default buttons, scripted answers from
// the variable and from the answer file, and their screen log lines.
#include "dialog/message_box.h"
#include "dialog/screen_log_reader.h"
#include "dialog_test_util.h"
#include "internal/machine_root.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>

using namespace kolm::test;
using kolm::platform::ScreenLine;

namespace {

class MessageBox : public RootedTest {
protected:
    void SetUp() override { ::unsetenv("KOLM_MSGBOX_ANSWERS"); }
    void TearDown() override { ::unsetenv("KOLM_MSGBOX_ANSWERS"); }
    std::filesystem::path answer_file() { return kolm::platform::machine_dir("run") / "msgbox-answers"; }
    void write_answers(const std::string& content) { std::ofstream(answer_file()) << content; }
    std::string answers_left()
    {
        std::ifstream in(answer_file());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<ScreenLine> boxes()
    {
        std::vector<ScreenLine> out;
        for (auto& l : kolm::platform::read_screen_log())
            if (l.kind == "messagebox")
                out.push_back(l);
        return out;
    }
};

TEST_F(MessageBox, TakesItsDefaultButtonAndLogsIt)
{
    struct Row {
        UINT type;
        int answer;
        const char* buttons;
        const char* icon; // nullptr: no icon field
    };
    const Row rows[] = {
        { MB_OK, IDOK, "OK", nullptr },
        { MB_OKCANCEL, IDOK, "OKCANCEL", nullptr },
        { MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL, "OKCANCEL", nullptr },
        { MB_YESNOCANCEL | MB_DEFBUTTON3 | MB_ICONQUESTION, IDCANCEL, "YESNOCANCEL", "QUESTION" },
        { MB_YESNO | MB_DEFBUTTON3, IDYES, "YESNO", nullptr }, // past the last button: the first
        { MB_ABORTRETRYIGNORE | MB_DEFBUTTON2 | MB_ICONHAND, IDRETRY, "ABORTRETRYIGNORE", "HAND" },
        { MB_RETRYCANCEL | MB_ICONEXCLAMATION, IDRETRY, "RETRYCANCEL", "EXCLAMATION" },
        { MB_YESNO | MB_ICONASTERISK, IDYES, "YESNO", "ASTERISK" },
    };
    for (const auto& r : rows)
        EXPECT_EQ(MessageBoxA(nullptr, "Save setup data beforing exiting?", "Setup", r.type), r.answer) << r.buttons;
    const auto lines = boxes();
    ASSERT_EQ(lines.size(), std::size(rows));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].caption, "Setup");
        EXPECT_EQ(lines[i].text, "Save setup data beforing exiting?");
        EXPECT_EQ(lines[i].field("buttons"), rows[i].buttons) << "row " << i;
        EXPECT_EQ(lines[i].field("icon"), rows[i].icon ? std::optional<std::string>(rows[i].icon) : std::nullopt) << "row " << i;
        EXPECT_EQ(lines[i].field("answer"), kolm::platform::answer_name(rows[i].answer)) << "row " << i;
    }
    // The line of the brief example, exactly.
    MessageBoxA(nullptr, "No VxD found from kolm32!", "ERROR", MB_OK);
    EXPECT_EQ(boxes().back().raw, "dialog_tests messagebox \"ERROR\" \"No VxD found from kolm32!\" buttons=OK answer=IDOK");
}

TEST_F(MessageBox, VariableAnswersInOrderThenDefaults)
{
    ::setenv("KOLM_MSGBOX_ANSWERS", "IDNO, cancel,7,yes,IDOK", 1);
    struct Row {
        UINT type;
        int answer;
        const char* refused; // nullptr: none
    };
    const Row rows[] = {
        { MB_YESNO, IDNO, nullptr },
        { MB_YESNOCANCEL, IDCANCEL, nullptr },
        { MB_YESNO, IDNO, nullptr },                // a number
        { MB_OK, IDOK, "yes" },                     // not a button of this box: refused, default taken
        { MB_OKCANCEL | MB_DEFBUTTON2, IDOK, nullptr },
        { MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL, nullptr }, // the list is used up
    };
    for (const auto& r : rows)
        EXPECT_EQ(MessageBoxA(nullptr, "q", "Info", r.type), r.answer);
    const auto lines = boxes();
    ASSERT_EQ(lines.size(), std::size(rows));
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].field("refused"), rows[i].refused ? std::optional<std::string>(rows[i].refused) : std::nullopt)
            << "row " << i;

    ::setenv("KOLM_MSGBOX_ANSWERS", "IDNO", 1); // a new list starts over
    EXPECT_EQ(MessageBoxA(nullptr, "q", "Info", MB_YESNO), IDNO);
}

TEST_F(MessageBox, AnswerFileIsConsumedLineByLineAfterTheVariable)
{
    write_answers("IDNO\n\n  IDRETRY  \nIDOK\n");
    EXPECT_EQ(MessageBoxA(nullptr, "q", "Info", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "Info", MB_RETRYCANCEL | MB_DEFBUTTON2), IDRETRY) << "blank lines are skipped";
    EXPECT_EQ(answers_left(), "IDOK\n");
    ::setenv("KOLM_MSGBOX_ANSWERS", "IDCANCEL", 1);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "Info", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(answers_left(), "IDOK\n") << "the variable comes first";

    // A program that is already running takes its answers from the file.
    ::unsetenv("KOLM_MSGBOX_ANSWERS");
    write_answers("no\nyes\n");
    Peer peer({ "boxes", "3", "box" });
    EXPECT_EQ(peer.read_line(), "answers 7,6,6");
    EXPECT_EQ(peer.wait_exit(), 0);
    EXPECT_EQ(answers_left(), "");
}

TEST_F(MessageBox, RefusesBadStylesAndOwnersAndFillsInNulls)
{
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(nullptr, "x", "y", 7), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MSGBOX_STYLE));
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(DwordToHandle<HWND>(0x7FFF0001), "x", "y", MB_OK), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(boxes().empty()) << "a refused box is not shown";
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].caption, "Error");
    EXPECT_EQ(boxes()[0].text, "");
}

TEST_F(MessageBox, AnswersAThreadThatHasNoMessageLoop)
{
    // The runtime asks from its service thread, whose queue nobody reads.
    auto answer = std::async(std::launch::async, [] { return MessageBoxA(nullptr, "Couldn't create event", "Kolm32", MB_OK); });
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(answer.get(), IDOK);
}

} // namespace
