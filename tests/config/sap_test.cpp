// SAP discovery against devsim on a private segment: polls that fill a list
// box, and lookups that find one service's address.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "devsim_process.h"
#include "nwservi.h"
#include "test_support.h"

using namespace kolm::test;

namespace {

class SegmentEnvironment : public ::testing::Environment {
public:
    void SetUp() override { use_private_ipx_segment("0000000A"); }
};
[[maybe_unused]] ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new SegmentEnvironment);

const int kList = 100;

// A window with one list box, as the setup utility's dialog has.
class ListWindow {
public:
    ListWindow()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "SapTestParent";
        // Registered once per process; a repeat fails, and its error must
        // not be left pending for the socket calls that follow.
        if (!RegisterClassA(&wc))
            SetLastError(0);
        m_parent = CreateWindowExA(0, "SapTestParent", "poll", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr,
                                   nullptr, nullptr, nullptr);
        CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_NOTIFY, 0, 0, 100, 100, m_parent,
                        reinterpret_cast<HMENU>(static_cast<intptr_t>(kList)), nullptr, nullptr);
    }
    ~ListWindow() { DestroyWindow(m_parent); }
    HWND hwnd() const { return m_parent; }
    std::vector<std::string> items() const
    {
        std::vector<std::string> out;
        const LRESULT n = SendDlgItemMessageA(m_parent, kList, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            char buf[64] = {};
            SendDlgItemMessageA(m_parent, kList, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
            out.emplace_back(buf);
        }
        return out;
    }

private:
    HWND m_parent = nullptr;
};

class Sap : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA wd;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wd), 0);
    }
    void TearDown() override { WSACleanup(); }
};

// "NNNNNNNN:XXXXXXXXXXXX:SSSS" from a devsim "sap NAME ADDR" line.
std::string advertised(const DevsimProcess& d, const std::string& name)
{
    for (const auto& l : d.lines())
        if (l.rfind("sap " + name + " ", 0) == 0)
            return l.substr(5 + name.size());
    return "";
}

std::string text_of(const sockaddr_ipx& a)
{
    char buf[40];
    const auto* n = reinterpret_cast<const unsigned char*>(a.sa_netnum);
    const auto* d = reinterpret_cast<const unsigned char*>(a.sa_nodenum);
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X:%04X", n[0], n[1], n[2], n[3], d[0],
                  d[1], d[2], d[3], d[4], d[5], ntohs(a.sa_socket));
    return buf;
}

TEST_F(Sap, PollListsEveryServerOnceAndSkipsOthers)
{
    // PORTSRV2 answers first; a prefix search would never list PORTSRV.
    DevsimProcess dev({"--sap", "PORTSRV2", "--sap", "PORTSRV", "--sap", "PORT-SERVER 1", "--sap", "MAIL@HOST",
                       "--sap-other", "FILESRV,0004"});
    ASSERT_TRUE(dev.ready()) << dev.error();
    ListWindow w;
    EXPECT_EQ(gatherServices(w.hwnd(), kList, nullptr, nullptr, nullptr), 0);
    auto items = w.items();
    std::sort(items.begin(), items.end());
    EXPECT_EQ(items, (std::vector<std::string>{"PORT", "PORTSRV", "PORTSRV2"}));
}

TEST_F(Sap, PollReadsManyEntriesAndSplitAnswers)
{
    std::vector<std::string> args;
    std::vector<std::string> names;
    for (int i = 0; i < 9; ++i) {
        names.push_back("DEV" + std::to_string(i));
        args.push_back("--sap");
        args.push_back(names.back());
    }
    args.push_back("--sap-split");
    args.push_back("7");
    DevsimProcess dev(args);
    ASSERT_TRUE(dev.ready()) << dev.error();
    ListWindow w;
    EXPECT_EQ(gatherServices(w.hwnd(), kList, nullptr, nullptr, nullptr), 0);
    auto items = w.items();
    std::sort(items.begin(), items.end());
    EXPECT_EQ(items, names);
}

TEST_F(Sap, LookupFindsTheAddressAndOtherTypesMatch)
{
    DevsimProcess dev({"--sap", "PRINTSRV,4242", "--sap-other", "FILESRV,0004"});
    ASSERT_TRUE(dev.ready()) << dev.error();
    sockaddr_ipx a{};
    int found = 0;
    char name[] = "PRINTSRV";
    EXPECT_EQ(gatherServices(nullptr, 0, name, &a, &found), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(text_of(a), advertised(dev, "PRINTSRV"));
    EXPECT_EQ(ntohs(a.sa_socket), 0x4242);

    // In lookup mode the type is not looked at.
    sockaddr_ipx b{};
    char other[] = "FILESRV";
    EXPECT_EQ(gatherServices(nullptr, 0, other, &b, &found), 0);
    EXPECT_EQ(found, 1);
}

TEST_F(Sap, LookupOfAStaleAddressBroadcastsAfterAnAnswer)
{
    // The service moved: the stored node is that of another station, which
    // answers directed queries but does not know the name.
    DevsimProcess old_station({"--sap", "ELSEWHERE"});
    DevsimProcess dev({"--sap", "MOVED,4300", "--sap-bcast-only"});
    ASSERT_TRUE(old_station.ready() && dev.ready());
    const std::string stale = advertised(old_station, "ELSEWHERE");
    sockaddr_ipx a{};
    a.sa_netnum[3] = 0x0A;
    for (int i = 0; i < 6; ++i)
        a.sa_nodenum[i] = static_cast<char>(std::stoi(stale.substr(9 + 2 * i, 2), nullptr, 16));
    int found = 0;
    char name[] = "MOVED";
    EXPECT_EQ(gatherServices(nullptr, 0, name, &a, &found), 0);
    EXPECT_EQ(found, 1) << "the third attempt is a broadcast";
    EXPECT_EQ(text_of(a), advertised(dev, "MOVED"));
}

TEST_F(Sap, LookupThatFindsNothingClearsTheNetwork)
{
    // A station that hears the queries and never answers.
    DevsimProcess dev({"--sap", "SOMEONE", "--sap-silent"});
    ASSERT_TRUE(dev.ready());
    const std::string where = advertised(dev, "SOMEONE");
    sockaddr_ipx a{};
    a.sa_netnum[3] = 0x0A;
    for (int i = 0; i < 6; ++i)
        a.sa_nodenum[i] = static_cast<char>(std::stoi(where.substr(9 + 2 * i, 2), nullptr, 16));
    a.sa_socket = htons(0x1234);
    int found = 7;
    char name[] = "NOBODY";
    EXPECT_EQ(gatherServices(nullptr, 0, name, &a, &found), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(text_of(a), "00000000:" + where.substr(9, 12) + ":1234") << "only the network number is cleared";
}

TEST_F(Sap, DirectedLookupAtAnSpxServer)
{
    DevsimProcess dev({"--spx", "--sap", "STREAMER"});
    ASSERT_TRUE(dev.ready()) << dev.error();
    const std::string where = advertised(dev, "STREAMER");
    sockaddr_ipx a{};
    a.sa_netnum[3] = 0x0A;
    for (int i = 0; i < 6; ++i)
        a.sa_nodenum[i] = static_cast<char>(std::stoi(where.substr(9 + 2 * i, 2), nullptr, 16));
    int found = 0;
    char name[] = "STREAMER";
    EXPECT_EQ(gatherServices(nullptr, 0, name, &a, &found), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(text_of(a), where);
}

TEST_F(Sap, SendErrorKeepsTheAddress)
{
    // A network that is not ours is unreachable: the query cannot be sent,
    // and the stored address stays for the next time.
    sockaddr_ipx a{};
    a.sa_netnum[0] = 0x7E;
    a.sa_nodenum[5] = 0x01;
    int found = 0;
    char name[] = "ANY";
    EXPECT_NE(gatherServices(nullptr, 0, name, &a, &found), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(static_cast<unsigned char>(a.sa_netnum[0]), 0x7E);
}

// Servers on the segment advertise themselves unasked, here about once a
// second: something always arrives within a second, yet every attempt
// reads for at most its 3 seconds, so a lookup or a poll ends in about 9.
class SapUnderSteadyAdvertising : public Sap {
protected:
    // A lookup (or poll) of three attempts of 3 s each, with room to spare
    // for a loaded machine; without the bound it would never end.
    static constexpr auto kBound = std::chrono::milliseconds(10500);
    DevsimProcess m_dev{{"--sap", "CHATTY", "--sap-every", "800"}};
};

TEST_F(SapUnderSteadyAdvertising, LookupEndsInTime)
{
    ASSERT_TRUE(m_dev.ready()) << m_dev.error();
    sockaddr_ipx a{};
    int found = 7;
    char name[] = "NOBODY";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(gatherServices(nullptr, 0, name, &a, &found), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(found, 0);
    EXPECT_LT(took, kBound) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

TEST_F(SapUnderSteadyAdvertising, PollEndsInTimeAndListsTheServer)
{
    ASSERT_TRUE(m_dev.ready()) << m_dev.error();
    ListWindow w;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(gatherServices(w.hwnd(), kList, nullptr, nullptr, nullptr), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(w.items(), std::vector<std::string>{"CHATTY"});
    EXPECT_LT(took, kBound) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

TEST(ClipName, EndsAtTheFirstOtherCharacter)
{
    struct Row {
        const char* in;
        const char* out;
    } rows[] = {{"PORT-SERVER 1", "PORT"}, {"DEV_1", "DEV_1"}, {"A.B", "A"}, {"", ""}, {"abc\xE9x", "abc"}};
    for (const auto& r : rows) {
        char buf[64];
        std::strcpy(buf, r.in);
        clipName(buf);
        EXPECT_STREQ(buf, r.out) << r.in;
    }
}

} // namespace
