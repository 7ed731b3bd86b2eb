// Windows of other processes: finding them, sending and posting to them,
// marshalled text, early replies, and processes that die or vanish.
#include "test_support.h"
#include "peer_process.h"
#include "peer_protocol.h"
#include "raw_socket.h"
#include "user_test_util.h"

#include "internal/machine_root.h"
#include "user/mailbox.h"
#include "user/mailbox_path.h"
#include "kolm/messaging.h"
#include "user/window.h"
#include "user/wire.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <sys/stat.h>

using kolm::test::create;
using kolm::test::next_message_within;
using kolm::test::PeerProcess;

namespace {

LRESULT CALLBACK LocalProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == peer::add)
        return static_cast<LRESULT>(w) + l;
    return DefWindowProcA(h, m, w, l);
}

class RemoteTest : public kolm::test::RootedTest {
protected:
    void SetUp() override
    {
        static bool registered = false;
        if (!registered) {
            kolm::test::register_class("LocalWin", LocalProc);
            registered = true;
        }
    }

    std::filesystem::path socket_of(pid_t pid) const
    {
        return root.path() / "run" / kolm::platform::mailbox_file_name(static_cast<DWORD>(pid));
    }
};

} // namespace

TEST_F(RemoteTest, FindWindowReachesOtherProcesses)
{
    PeerProcess p("PeerClass", "Peer Title");
    ASSERT_TRUE(p.ready());
    struct Row {
        const char* cls;
        const char* title;
        bool found;
    };
    const Row rows[] = {
        { "PeerClass", "Peer Title", true }, { "peerclass", nullptr, true }, { nullptr, "PEER TITLE", true },
        { "PeerClass", "Other", false },     { "Nope", nullptr, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.cls ? row.cls : "NULL") + "/" + (row.title ? row.title : "NULL"));
        EXPECT_EQ(FindWindowA(row.cls, row.title), row.found ? p.hwnd() : nullptr);
    }
    DWORD pid = 0;
    EXPECT_NE(GetWindowThreadProcessId(p.hwnd(), &pid), 0u);
    EXPECT_EQ(pid, static_cast<DWORD>(p.pid()));
    EXPECT_TRUE(IsWindow(p.hwnd()));
    char buf[32];
    EXPECT_EQ(GetClassNameA(p.hwnd(), buf, sizeof buf), 9);
    EXPECT_STREQ(buf, "PeerClass");
    EXPECT_EQ(GetWindowTextA(p.hwnd(), buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "Peer Title");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(p.hwnd(), GWL_STYLE)), static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    EXPECT_FALSE(IsWindowVisible(p.hwnd()));

    // The run/ folder is the owner's alone.
    struct stat st {};
    ASSERT_EQ(::stat((root.path() / "run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(::stat(socket_of(p.pid()).c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
}

TEST_F(RemoteTest, SendMessageCarriesNumbersAndMarshalledText)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    EXPECT_EQ(SendMessageA(p.hwnd(), peer::add, 5, 6), 11);
    EXPECT_EQ(SendMessageA(p.hwnd(), peer::add, 5, -20), -15);
    EXPECT_EQ(SendMessageA(p.hwnd(), WM_QUERYENDSESSION, 0, 0), TRUE);

    ASSERT_TRUE(SetWindowTextA(p.hwnd(), "set from afar"));
    EXPECT_EQ(SendMessageA(p.hwnd(), WM_GETTEXTLENGTH, 0, 0), 13);
    struct Row {
        WPARAM size;
        LRESULT result;
        const char* text;
    };
    const Row rows[] = { { 1, 0, "" }, { 4, 3, "set" }, { 14, 13, "set from afar" }, { 100, 13, "set from afar" } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        char buf[128];
        std::memset(buf, 0xbd, sizeof buf);
        EXPECT_EQ(SendMessageA(p.hwnd(), WM_GETTEXT, row.size, reinterpret_cast<LPARAM>(buf)), row.result);
        EXPECT_STREQ(buf, row.text);
        EXPECT_EQ(static_cast<unsigned char>(buf[row.size]), 0xbd) << "wrote past the buffer";
    }

    // A private message with a text lParam: the peer gets its own copy.
    EXPECT_EQ(kolm::platform::send_text_message(p.hwnd(), peer::take_text, 0, "hello world"), 11);
    char buf[64];
    EXPECT_EQ(GetWindowTextA(p.hwnd(), buf, sizeof buf), 15);
    EXPECT_STREQ(buf, "got:hello world");
    const std::string big(20000, 'x');
    EXPECT_EQ(kolm::platform::send_text_message(p.hwnd(), peer::take_text, 0, big), 20000);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(kolm::platform::send_text_message(p.hwnd(), peer::take_text, 0, std::string(70000, 'y')), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // Messages carrying pointers we do not marshal are refused, not sent.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SendMessageA(p.hwnd(), WM_CREATE, 0, 0x1234), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
    EXPECT_EQ(SendMessageA(p.hwnd(), peer::add, 1, 1), 2) << "the peer is unharmed";
}

TEST_F(RemoteTest, ListBoxTextsAndBuffersAreMarshalled)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    const char* items[] = { "alpha", "", "a somewhat longer item", "delta", "e" };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(SendMessageA(p.hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i])), i);
    EXPECT_EQ(SendMessageA(p.hwnd(), LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("delta")),
              3);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const LRESULT len = SendMessageA(p.hwnd(), LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        ASSERT_EQ(len, static_cast<LRESULT>(std::strlen(items[i])));
        char buf[64];
        std::memset(buf, 0xbd, sizeof buf);
        EXPECT_EQ(SendMessageA(p.hwnd(), LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf)), len);
        EXPECT_STREQ(buf, items[i]);
        EXPECT_EQ(static_cast<unsigned char>(buf[len + 1]), 0xbd) << "wrote past the text";
    }
    EXPECT_EQ(SendMessageA(p.hwnd(), LB_GETTEXT, 9, 0), LB_ERR);

    int selected[8];
    std::fill(std::begin(selected), std::end(selected), -7);
    EXPECT_EQ(SendMessageA(p.hwnd(), LB_GETSELITEMS, 2, reinterpret_cast<LPARAM>(selected)), 2);
    EXPECT_EQ(selected[0], 0);
    EXPECT_EQ(selected[1], 2);
    EXPECT_EQ(selected[2], -7) << "wrote past the array";
}

TEST_F(RemoteTest, ReplyMessageReleasesARemoteSenderEarly)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    EXPECT_EQ(SendMessageA(p.hwnd(), peer::reply_early, 42, 0), 42);
    EXPECT_EQ(SendMessageA(p.hwnd(), peer::inside_early, 0, 0), 1) << "the procedure goes on after the reply";
    ASSERT_TRUE(PostMessageA(p.hwnd(), peer::finish, 0, 0));
    // Sent messages come before posted ones, so ask until the peer has
    // left the procedure (each answer is a full round trip, not a sleep).
    LRESULT inside = 1;
    for (int i = 0; i < 1000 && inside == 1; ++i)
        inside = SendMessageA(p.hwnd(), peer::inside_early, 0, 0);
    EXPECT_EQ(inside, 0);
}

TEST_F(RemoteTest, PostedMessagesArriveInOrder)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    HWND mine = create("LocalWin");
    for (WPARAM i = 1; i <= 3; ++i)
        ASSERT_TRUE(PostMessageA(p.hwnd(), peer::count_post, i * 10, reinterpret_cast<LPARAM>(mine)));
    for (WPARAM i = 1; i <= 3; ++i) {
        MSG m;
        ASSERT_TRUE(next_message_within(m, mine));
        EXPECT_EQ(m.message, peer::posted_ack);
        EXPECT_EQ(m.wParam, i * 10);
        EXPECT_EQ(m.lParam, static_cast<LPARAM>(i));
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PostMessageA(p.hwnd(), WM_SETTEXT, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
    DestroyWindow(mine);
}

TEST_F(RemoteTest, ARemoteSenderServesMessagesSentBackToIt)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    HWND mine = create("LocalWin");
    EXPECT_EQ(SendMessageA(p.hwnd(), peer::call_back, reinterpret_cast<WPARAM>(mine), 0), 111);
    DestroyWindow(mine);
}

TEST_F(RemoteTest, PostedDestroyEndsThePeerAndItsMailbox)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    ASSERT_TRUE(PostMessageA(p.hwnd(), WM_DESTROY, 0, 0)) << GetLastError() << " " << p.banner();
    EXPECT_EQ(p.wait_exit(), peer::exit_code);
    EXPECT_FALSE(std::filesystem::exists(socket_of(p.pid())));
    EXPECT_EQ(FindWindowA("PeerClass", nullptr), nullptr);
}

TEST_F(RemoteTest, AnAnswerIsNotLostWhenTheTargetEndsRightAfterIt)
{
    // The target may end the moment it has the message; what it answered
    // still reaches the caller.
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        PeerProcess posted("PeerClass", "Peer");
        ASSERT_TRUE(posted.ready());
        EXPECT_TRUE(PostMessageA(posted.hwnd(), peer::exit_now, 0, 0)) << GetLastError();
        EXPECT_EQ(posted.wait_exit(), peer::exit_now_code);

        PeerProcess sent("PeerClass", "Peer");
        ASSERT_TRUE(sent.ready());
        EXPECT_EQ(SendMessageA(sent.hwnd(), peer::reply_then_exit, 77, 0), 77);
        EXPECT_EQ(sent.wait_exit(), peer::exit_now_code);
    }
}

TEST_F(RemoteTest, ADeadTargetAnswersZeroAndIsNotFound)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    SetLastError(0);
    // The peer ends inside the procedure, without answering.
    EXPECT_EQ(SendMessageA(p.hwnd(), peer::die, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(p.wait_exit(), 3);

    EXPECT_FALSE(IsWindow(p.hwnd()));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PostMessageA(p.hwnd(), WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(FindWindowA("PeerClass", "Peer"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(socket_of(p.pid()))) << "the stale mailbox was not cleared";
}

TEST_F(RemoteTest, AKilledProcessStaleSocketDoesNotBreakFindWindow)
{
    PeerProcess dead("SharedClass", "Dead");
    PeerProcess alive("SharedClass", "Alive");
    ASSERT_TRUE(dead.ready());
    ASSERT_TRUE(alive.ready());
    dead.kill_hard();
    EXPECT_EQ(dead.wait_exit(), -SIGKILL);
    ASSERT_TRUE(std::filesystem::exists(socket_of(dead.pid()))) << "SIGKILL leaves the socket file behind";

    EXPECT_EQ(FindWindowA("SharedClass", nullptr), alive.hwnd());
    EXPECT_EQ(FindWindowA(nullptr, "Dead"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(socket_of(dead.pid())));
    EXPECT_EQ(SendMessageA(dead.hwnd(), peer::add, 1, 1), 0);
    EXPECT_EQ(SendMessageA(alive.hwnd(), peer::add, 1, 1), 2);
}

TEST_F(RemoteTest, AWindowThatNoLongerExistsAnswersZero)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    // Same process, another slot: no such window there.
    auto parts = kolm::platform::decode_hwnd(HandleToDword(p.hwnd()));
    ASSERT_TRUE(parts);
    HWND fake = DwordToHandle<HWND>(kolm::platform::encode_hwnd(parts->pid, parts->index + 1));
    EXPECT_FALSE(IsWindow(fake));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SendMessageA(fake, peer::add, 1, 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(PostMessageA(fake, peer::add, 1, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(RemoteTest, MalformedAndSlowClientsDoNotHurtTheMailbox)
{
    PeerProcess p("PeerClass", "Peer");
    ASSERT_TRUE(p.ready());
    const auto path = socket_of(p.pid());

    // A client that connects and says nothing holds up nobody.
    int silent = kolm::test::connect_unix(path.string());
    ASSERT_GE(silent, 0);

    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    auto send_req = kolm::platform::wire::encode(
        kolm::platform::wire::SendRequest { HandleToDword(p.hwnd()), peer::add, 1, 2, {}, {} });
    auto truncated = send_req;
    truncated.resize(truncated.size() - 3);
    auto bad_version = send_req;
    bad_version[4] = 99;
    auto bad_text = send_req;
    bad_text[bad_text.size() - 4] = 0xFF; // text length far past the frame
    // Text for a system message that writes into its lParam.
    auto text_for_gettext = kolm::platform::wire::encode(kolm::platform::wire::SendRequest {
        HandleToDword(p.hwnd()), WM_GETTEXT, 10, 0, kolm::platform::wire::LParamKind::Text, std::string("zz") });
    auto pointer_message = kolm::platform::wire::encode(
        kolm::platform::wire::SendRequest { HandleToDword(p.hwnd()), WM_CREATE, 0, 0x1000, {}, {} });
    const Row rows[] = {
        { "oversize length", { 0xFF, 0xFF, 0xFF, 0x7F, 1, 3 } },
        { "bad version", bad_version },
        { "truncated", truncated },
        { "text past the frame", bad_text },
        { "unknown operation", { 2, 0, 0, 0, 1, 0x55 } },
        { "text into an output buffer", text_for_gettext },
        { "unmarshalled pointer", pointer_message },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int fd = kolm::test::connect_unix(path.string());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(kolm::test::send_all_and_finish(fd, row.bytes));
        kolm::platform::wire::Frame reply;
        auto r = kolm::platform::wire::read_frame(fd, reply, kolm::platform::Clock::now() + std::chrono::seconds(10));
        if (r == kolm::platform::wire::IoResult::Ok) {
            // Only a well-formed request gets an answer, and this one says no.
            auto decoded = kolm::platform::wire::decode_send_reply(reply.body);
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->status, kolm::platform::wire::Status::Refused);
        } else {
            EXPECT_EQ(r, kolm::platform::wire::IoResult::Closed);
        }
        kolm::test::close_fd(fd);
        EXPECT_EQ(SendMessageA(p.hwnd(), peer::add, 2, 3), 5) << "the peer stopped answering";
    }
    kolm::test::close_fd(silent);
}

TEST_F(RemoteTest, MailboxesWorkUnderALongMachineRootPath)
{
    // Longer than a Unix socket address can hold.
    const auto deep = root.path() / std::string(60, 'a') / std::string(60, 'b');
    std::filesystem::create_directories(deep);
    ::setenv("KOLM_ROOT", deep.c_str(), 1);
    {
        PeerProcess p("PeerClass", "Deep");
        ASSERT_TRUE(p.ready());
        EXPECT_EQ(FindWindowA("PeerClass", "Deep"), p.hwnd());
        EXPECT_EQ(SendMessageA(p.hwnd(), peer::add, 20, 22), 42);
    }
    ::setenv("KOLM_ROOT", root.path().c_str(), 1);
}

TEST_F(RemoteTest, TheRunFolderMustBeOursAlone)
{
    const auto run = root.path() / "run";
    // Made by someone else with a looser mode: tightened before use.
    std::filesystem::create_directory(run);
    std::filesystem::permissions(run, std::filesystem::perms::owner_all | std::filesystem::perms::group_read
                                     | std::filesystem::perms::group_exec | std::filesystem::perms::others_read
                                     | std::filesystem::perms::others_exec);
    HWND first = create("LocalWin", "First");
    struct stat st {};
    ASSERT_EQ(::stat(run.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(kolm::platform::mailbox_socket_path());
    DestroyWindow(first);

    // A symlink in its place is not followed: no mailbox, but windows work.
    kolm::test::TempRoot other;
    std::filesystem::create_directory(other.path() / "elsewhere");
    std::filesystem::create_directory_symlink(other.path() / "elsewhere", other.path() / "run");
    HWND second = create("LocalWin", "Second");
    EXPECT_TRUE(IsWindow(second));
    EXPECT_FALSE(kolm::platform::mailbox_socket_path());
    EXPECT_TRUE(std::filesystem::is_empty(other.path() / "elsewhere"));
    DestroyWindow(second);
}

TEST_F(RemoteTest, OurMailboxFollowsTheMachineRoot)
{
    HWND mine = create("LocalWin", "Here");
    auto path = kolm::platform::mailbox_socket_path();
    ASSERT_TRUE(path);
    EXPECT_EQ(path->parent_path(), root.path() / "run");
    EXPECT_TRUE(std::filesystem::exists(*path));
    // Another process finds our window through it.
    const auto r = kolm::test::run_command(kolm::test::bin_path("kolmwin").string() + " find LocalWin Here");
    EXPECT_EQ(r.status, 0);
    char expected[16];
    std::snprintf(expected, sizeof expected, "0x%08X\n", HandleToDword(mine));
    EXPECT_EQ(r.out, expected);
    DestroyWindow(mine);
}
