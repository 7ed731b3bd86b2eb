// The notice box: the sequence check, pairing of close notices, hold
// timers, kill requests and closing by the user.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "inotice.h"
#include "kolmmsg.h"
#include "runtime_harness.h"

using namespace kolm::test;

namespace {

TEST(NoticeSequence, AcceptsOnlyNumbersThatAdvance)
{
    struct Row {
        int last;
        int number;
        int accepted;
    } rows[] = {
        {10, 10, 0}, {10, 11, 1}, {10, 137, 0}, {10, 136, 1}, {200, 5, 1},  {200, 100, 0},
        {0, 0, 0},   {0, 1, 1},   {0, 126, 1},  {0, 127, 0},  {0, 255, 0},  {250, 251, 1},
        {250, 255, 1}, {250, 0, 1}, {250, 121, 1}, {250, 122, 0}, {250, 250, 0},
    };
    for (const auto& r : rows) {
        last_counter = r.last;
        const WORD wpar = static_cast<WORD>((25 << 8) | r.number);
        EXPECT_EQ(message_ok(wpar), r.accepted) << r.last << " -> " << r.number;
        EXPECT_EQ(last_counter, r.accepted ? r.number : r.last) << r.last << " -> " << r.number;
    }
    last_counter = 0;
}

class NoticeBox : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rt.start()); }

    // Sends a notice the way the runtime's threads do, with the next number.
    void notice(const char* text, int hold = 0, UINT msg = WM_NOTICE)
    {
        seq = static_cast<unsigned char>(seq + 1);
        send_numbered(seq, text, hold, msg);
    }
    void send_numbered(unsigned char number, const char* text, int hold = 0, UINT msg = WM_NOTICE)
    {
        SendMessageA(rt.window(), msg, static_cast<WPARAM>((hold << 8) | number), reinterpret_cast<LPARAM>(text));
    }
    std::string shown()
    {
        char buf[NOTICE_COMPOSED_LEN + 8] = {};
        if (!hNoticeBox)
            return "<no box>";
        GetDlgItemTextA(hNoticeBox, IDC_NOTICE_TEXT, buf, sizeof buf);
        return buf;
    }
    // Makes the previous notice old enough not to pair with the next.
    void age_previous() { oldnoticetime = GetTickCount() - 5000; }

    RuntimeHarness rt;
    unsigned char seq = 0;
};

TEST_F(NoticeBox, PairsNoticesWithin700ms)
{
    notice("Disconnecting.", 25);
    EXPECT_EQ(shown(), "\nDisconnecting.");
    notice("Disconnected.", 25);
    EXPECT_EQ(shown(), "\nDisconnecting.\nDisconnected.");
    age_previous();
    notice("Attempting to connect to service host:1");
    EXPECT_EQ(shown(), "\nAttempting to connect to service host:1");
}

TEST_F(NoticeBox, LongPairsLoseTheBlankLine)
{
    const std::string a(50, 'a'), b(40, 'b'); // 90 together
    notice(a.c_str());
    notice(b.c_str());
    EXPECT_EQ(shown(), a + "\n" + b);
    const std::string c(49, 'c');
    notice(c.c_str()); // 40 + 49 = 89: blank line again
    EXPECT_EQ(shown(), "\n" + b + "\n" + c);
}

TEST_F(NoticeBox, BangTextStandsAloneAndPairsNext)
{
    notice("First");
    notice("!Alert");
    EXPECT_EQ(shown(), "\nAlert");
    notice("Next");
    EXPECT_EQ(shown(), "\nAlert\nNext");
}

TEST_F(NoticeBox, RejectedNoticeChangesNothing)
{
    notice("Shown", 0);
    send_numbered(seq, "Repeat of the same number");
    EXPECT_EQ(shown(), "\nShown");
    send_numbered(static_cast<unsigned char>(seq - 3), "Older");
    EXPECT_EQ(shown(), "\nShown");
}

TEST_F(NoticeBox, RejectedNoticeWithNoBoxOpensAnEmptyOne)
{
    last_counter = 5;
    send_numbered(5, "Rejected");
    ASSERT_NE(hNoticeBox, nullptr);
    EXPECT_EQ(shown(), " ");
    EXPECT_TRUE(IsWindow(hNoticeBox));
}

TEST_F(NoticeBox, HoldTimerClosesAndIsKeptByHoldZero)
{
    notice("Held", 3); // 0.3 s
    HWND box = hNoticeBox;
    ASSERT_NE(box, nullptr);
    notice("No hold of its own", 0);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(box); }, std::chrono::seconds(5)));
}

TEST_F(NoticeBox, KillRequests)
{
    notice("Up", 0);
    HWND box = hNoticeBox;
    ASSERT_NE(box, nullptr);
    // With a hold: restarts the timer, keeps the text.
    seq = static_cast<unsigned char>(seq + 1);
    SendMessageA(rt.window(), WM_KILL_NOTICE, (2 << 8) | seq, 0);
    EXPECT_EQ(shown(), "\nUp");
    EXPECT_TRUE(wait_until([&] { return !IsWindow(box); }, std::chrono::seconds(5)));
    // Without a hold: closes at once.
    notice("Again", 0);
    ASSERT_NE(hNoticeBox, nullptr);
    seq = static_cast<unsigned char>(seq + 1);
    SendMessageA(rt.window(), WM_KILL_NOTICE, seq, 0);
    EXPECT_EQ(hNoticeBox, nullptr);
    // With no box: nothing.
    seq = static_cast<unsigned char>(seq + 1);
    SendMessageA(rt.window(), WM_KILL_NOTICE, seq, 0);
    EXPECT_EQ(hNoticeBox, nullptr);
}

TEST_F(NoticeBox, AlertInAPlainBoxHasNoButtonAndClickCloses)
{
    notice("Plain", 0);
    HWND box = hNoticeBox;
    notice("Alert text", 0, WM_NOTICE_ALERT);
    EXPECT_EQ(hNoticeBox, box);
    EXPECT_EQ(GetDlgItem(box, IDC_NOTICE_OK), nullptr);
    SendMessageA(box, WM_LBUTTONDOWN, 0, 0);
    EXPECT_EQ(hNoticeBox, nullptr);
    EXPECT_FALSE(IsWindow(box));
    notice("Alert box", 0, WM_NOTICE_ALERT);
    ASSERT_NE(hNoticeBox, nullptr);
    HWND ok = GetDlgItem(hNoticeBox, IDC_NOTICE_OK);
    ASSERT_NE(ok, nullptr);
    SendMessageA(ok, BM_CLICK, 0, 0);
    EXPECT_EQ(hNoticeBox, nullptr);
}

TEST_F(NoticeBox, LongTextIsCutNotOverrun)
{
    const std::string big(300, 'x');
    notice(big.c_str());
    EXPECT_EQ(shown(), "\n" + std::string(NOTICE_TEXT_LEN - 1, 'x'));
    EXPECT_EQ(std::string(oldnotice).size(), static_cast<size_t>(NOTICE_TEXT_LEN - 1));
}

TEST_F(NoticeBox, ScreenLogShowsTheComposedText)
{
    notice("Disconnecting.", 25);
    notice("Disconnected.", 25);
    EXPECT_TRUE(rt.wait_screen("\\nDisconnecting.\\nDisconnected."));
}

TEST_F(NoticeBox, PrepDisconnectShowsItsNotice)
{
    SendMessageA(rt.window(), WM_PREP_DISCONNECT, 0, 0);
    EXPECT_EQ(shown(), "\nPreparing to disconnect.");
}

TEST_F(NoticeBox, NoticesRacingFromSeveralThreadsAreAllShown)
{
    // A pump reporting a close and the command service disconnecting send
    // at the same moment; neither notice may be lost to the sequence check.
    constexpr int kThreads = 4, kEach = 50;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                SendNotice(WM_NOTICE, 0, ("racer " + std::to_string(t) + "." + std::to_string(i) + ";").c_str());
        });
    for (auto& s : senders)
        s.join();
    const auto lines = rt.screen_lines();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kEach; ++i) {
            const std::string text = "racer " + std::to_string(t) + "." + std::to_string(i) + ";";
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const std::string& l) { return l.find(text) != std::string::npos; }))
                << text << " was not shown";
        }
}

} // namespace
