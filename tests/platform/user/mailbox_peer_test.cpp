// Who may talk to a mailbox: its socket is the owner's alone, and even with
// every mode loosened, a client of another user is refused unread.
#include "child_process.h"
#include "test_support.h"
#include "peer_process.h"
#include "peer_protocol.h"

#include "user/mailbox_path.h"
#include "user/wire.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using kolm::test::PeerProcess;

namespace {

class MailboxPeerTest : public kolm::test::RootedTest {};

constexpr uid_t kNobody = 65534;

enum ClientEnd { Refused = 0, Answered = 1, NoConnect = 2, CannotSwitchUser = 3 };

// Sends `request` to the mailbox at `path` from mailbox_client running as
// `uid`, and tells how the mailbox dealt with it.
ClientEnd client_as(uid_t uid, const std::string& path, const std::vector<uint8_t>& request)
{
    std::string hex;
    char byte[3];
    for (uint8_t b : request) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        hex += byte;
    }
    const auto r = kolm::test::run_program("mailbox_client", {std::to_string(uid), path, hex});
    return r.status >= Refused && r.status <= CannotSwitchUser ? static_cast<ClientEnd>(r.status) : NoConnect;
}

} // namespace

TEST_F(MailboxPeerTest, SocketIsTheOwnersAlone)
{
    PeerProcess p("PeerClass", "Private");
    ASSERT_TRUE(p.ready());
    struct stat st {};
    const auto path = root.path() / "run" / kolm::platform::mailbox_file_name(static_cast<DWORD>(p.pid()));
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(MailboxPeerTest, AnotherUsersClientIsRefusedEvenWithEveryModeLoosened)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    PeerProcess p("PeerClass", "Guarded");
    ASSERT_TRUE(p.ready());
    const auto path = root.path() / "run" / kolm::platform::mailbox_file_name(static_cast<DWORD>(p.pid()));
    namespace fs = std::filesystem;
    for (const auto& dir : {root.path(), root.path() / "run"})
        fs::permissions(dir, fs::perms::all);
    fs::permissions(path, fs::perms::all);

    // What the probe sent: the window's end.
    const auto destroy = kolm::platform::wire::encode(
        kolm::platform::wire::PostRequest{HandleToDword(p.hwnd()), WM_DESTROY, 0, 0});
    const auto query = kolm::platform::wire::encode(kolm::platform::wire::QueryRequest{HandleToDword(p.hwnd())});
    struct Row {
        const char* name;
        uid_t uid;
        const std::vector<uint8_t>& request;
        ClientEnd expected;
    };
    const Row rows[] = {
        {"another user's query", kNobody, query, Refused},
        {"another user's WM_DESTROY", kNobody, destroy, Refused},
        {"our own query", ::geteuid(), query, Answered},
    };
    for (const Row& row : rows)
        EXPECT_EQ(client_as(row.uid, path.string(), row.request), row.expected) << row.name;
    EXPECT_EQ(SendMessageA(p.hwnd(), peer::add, 2, 3), 5) << "the peer's window was ended";
}
