// The port's life: hang-ups and the fresh port after them, the published
// links, the slave's mode, and no growth over many sessions.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

#include "pty_rig.h"

namespace kolm::test {
namespace {

size_t entries(const char* dir)
{
    size_t n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

std::string link_target(const std::string& link)
{
    char buf[256];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// A link names the port's line through this process (so it can never lead
// to another program's terminal once we are gone) and leads to its slave.
void expect_published(const std::string& link, PtyPort& port)
{
    EXPECT_EQ(link_target(link), port.published_path());
    EXPECT_EQ(link_target(link).rfind("/proc/" + std::to_string(::getpid()) + "/fd/", 0), 0u) << link_target(link);
    std::error_code ec;
    EXPECT_EQ(std::filesystem::canonical(link, ec).string(), port.slave_path()) << ec.message();
}

// The runtime ends the line three ways; each time the application sees a
// hang-up, the runtime gets Disc, and the next open is a clean session.
TEST(PtyPortHangup, LineLostThenNextOpenWorks)
{
    struct Row {
        const char* name;
        std::function<void(PtyRig&, App&)> end_line;
        int prep_answer;
    };
    const Row rows[] = {
        {"network closed", [](PtyRig& rig, App&) { rig.subf(SUBF_NET_CLOSED); }, SUBF_CONNECTED},
        {"connect failed", [](PtyRig&, App&) {}, SUBF_CONNECT_FAILED},
        {"DTR dropped", [](PtyRig&, App& app) {
             termios t{};
             ::tcgetattr(app.fd(), &t);
             ::cfsetospeed(&t, B0);
             ::tcsetattr(app.fd(), TCSANOW, &t);
         }, SUBF_CONNECTED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PtyRig rig;
        rig.prep_answer = row.prep_answer;
        const std::string first_slave = rig.port().slave_path();
        const std::string first_published = rig.port().published_path();
        App app(rig.link());
        ASSERT_TRUE(app.ok());
        ASSERT_TRUE(rig.wait_command(CMD_PREP));
        row.end_line(rig, app);
        ASSERT_TRUE(app.wait_hangup());
        ASSERT_TRUE(rig.wait_command(CMD_DISC));
        EXPECT_EQ(rig.port().generation(), 2u);
        EXPECT_NE(rig.port().slave_path(), first_slave);
        expect_published(rig.link(), rig.port());
        // The line that was hung up cannot be opened by its old name.
        EXPECT_LT(::open(first_published.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), 0);
        // Bytes the far end still sends for the lost session go nowhere.
        rig.send("stale");
        ASSERT_TRUE(rig.wait_for([&] { return rig.from_net_pending() == 0; }));
        app.close();

        rig.prep_answer = SUBF_CONNECTED;
        App next(rig.link());
        ASSERT_TRUE(next.ok());
        ASSERT_TRUE(rig.wait_command(CMD_PREP, 2));
        EXPECT_FALSE(next.readable_now());
        rig.send("hello");
        EXPECT_EQ(next.read_exact(5), "hello");
        ASSERT_TRUE(next.write_all("world"));
        EXPECT_TRUE(rig.wait_for([&] { return rig.net_received().find("world") != std::string::npos; }));
        next.close();
        EXPECT_TRUE(rig.wait_command(CMD_DISC, 2));
    }
}

// The runtime is ending: nothing more is delivered either way, and the
// application's actions raise nothing.
TEST(PtyPortHangup, RuntimeExitStopsDelivery)
{
    PtyRig rig;
    App app(rig.link());
    ASSERT_TRUE(rig.wait_session());
    rig.subf(SUBF_APP_EXIT);
    ASSERT_TRUE(rig.wait_for([&] { return rig.port().runtime_ended(); }));
    rig.send("late");
    ASSERT_TRUE(rig.wait_for([&] { return rig.from_net_pending() == 0; }));
    EXPECT_FALSE(app.readable_now());
    ASSERT_TRUE(app.write_all("ignored"));
    app.close();
    ASSERT_TRUE(rig.wait_for([&] { return rig.port().applications() == 0; }));
    EXPECT_EQ(rig.count(CMD_DISC), 0);
    EXPECT_EQ(rig.net_received(), "");
}

TEST(PtyPortLinks, ReplacedAtomicallyAndRemovedAtTheEnd)
{
    TempRoot root;
    const std::string extra = (root.path() / "my-port").string();
    std::string link;
    {
        PtyPortOptions options;
        options.extra_link = extra;
        PtyRig rig(options);
        link = rig.link();
        expect_published(link, rig.port());
        expect_published(extra, rig.port());

        // Someone looks the port up the whole time a hang-up replaces it:
        // the name must always be there. (What it names may vanish under a
        // lookup that read it just before the replacement; that open fails
        // like any open of a hung-up line.)
        std::atomic<bool> done{false};
        std::atomic<int> misses{0}, looks{0};
        std::thread looker([&] {
            while (!done.load()) {
                struct stat st {};
                if (::lstat(link.c_str(), &st) != 0 && errno == ENOENT)
                    misses.fetch_add(1);
                looks.fetch_add(1);
            }
        });
        for (unsigned i = 1; i <= 5; ++i) {
            App app(link);
            ASSERT_TRUE(rig.wait_command(CMD_PREP, static_cast<int>(i)));
            rig.subf(SUBF_NET_CLOSED);
            ASSERT_TRUE(app.wait_hangup());
            ASSERT_TRUE(rig.wait_for([&] { return rig.port().generation() == i + 1; }));
        }
        done = true;
        looker.join();
        EXPECT_EQ(misses.load(), 0) << "of " << looks.load() << " looks";
        expect_published(link, rig.port());
        expect_published(extra, rig.port());
    }
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    EXPECT_NE(::lstat(extra.c_str(), &st), 0);
}

TEST(PtyPortLinks, AFileInTheWayOfTheExtraLinkIsKept)
{
    TempRoot root;
    const std::string extra = (root.path() / "notes.txt").string();
    std::ofstream(extra) << "keep me";
    PtyPortOptions options;
    options.extra_link = extra;
    PtyRig rig(options);
    EXPECT_FALSE(rig.port().link_problem().empty());
    std::ifstream in(extra);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

// The groups this test may give a file: the primary one, the supplementary
// ones and, for root, any group the system has (dialout, as a user would
// ask for it). None is made for the test.
std::vector<gid_t> usable_groups()
{
    std::vector<gid_t> groups{::getgid()};
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> more(n > 0 ? static_cast<size_t>(n) : 0);
    if (n > 0 && ::getgroups(n, more.data()) == n)
        groups.insert(groups.end(), more.begin(), more.end());
    if (::geteuid() == 0)
        if (const group* dialout = ::getgrnam("dialout"))
            groups.push_back(dialout->gr_gid);
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    return groups;
}

// The slave belongs to the group asked for with mode 0660, and so does the
// fresh pty that replaces it after a hang-up.
TEST(PtyPortLinks, SlaveIsOpenToTheChosenGroup)
{
    const auto groups = usable_groups();
    if (groups.size() == 1)
        std::printf("only the primary group %u can be tried here\n", static_cast<unsigned>(groups[0]));
    for (const gid_t gid : groups) {
        SCOPED_TRACE("group " + std::to_string(gid));
        PtyPortOptions options;
        options.group = gid;
        PtyRig rig(options);
        auto expect_port = [&](const char* which) {
            struct stat st {};
            ASSERT_EQ(::stat(rig.link().c_str(), &st), 0) << which;
            EXPECT_TRUE(S_ISCHR(st.st_mode)) << which;
            EXPECT_EQ(st.st_mode & 07777, 0660u) << which;
            EXPECT_EQ(st.st_uid, ::getuid()) << which;
            EXPECT_EQ(st.st_gid, gid) << which;
        };
        expect_port("first pty");
        App app(rig.link());
        ASSERT_TRUE(app.ok());
        ASSERT_TRUE(rig.wait_command(CMD_PREP));
        rig.subf(SUBF_NET_CLOSED);
        ASSERT_TRUE(app.wait_hangup());
        ASSERT_TRUE(rig.wait_for([&] { return rig.port().generation() == 2; }));
        expect_port("pty after the hang-up");
    }
}

TEST(PtyPortLifecycle, ManySessionsLeaveNoDescriptorsOrThreads)
{
    PtyRig rig;
    auto cycle = [&](int i) {
        App app(rig.link());
        ASSERT_TRUE(app.ok());
        ASSERT_TRUE(rig.wait_command(CMD_PREP, i));
        app.close();
        ASSERT_TRUE(rig.wait_command(CMD_DISC, i));
    };
    cycle(1);
    // Hang-ups make the pty anew; they must not leave the old one behind.
    {
        App app(rig.link());
        ASSERT_TRUE(rig.wait_command(CMD_PREP, 2));
        rig.subf(SUBF_NET_CLOSED);
        ASSERT_TRUE(app.wait_hangup());
        ASSERT_TRUE(rig.wait_command(CMD_DISC, 2));
    }
    const size_t fds = entries("/proc/self/fd");
    const size_t threads = entries("/proc/self/task");
    for (int i = 3; i < 203; ++i) {
        cycle(i);
        if (i % 50 == 0) {
            App app(rig.link());
            ASSERT_TRUE(rig.wait_command(CMD_PREP, i + 1));
            rig.subf(SUBF_NET_CLOSED);
            ASSERT_TRUE(app.wait_hangup());
            ASSERT_TRUE(rig.wait_command(CMD_DISC, i + 1));
            ++i;
        }
    }
    EXPECT_EQ(entries("/proc/self/fd"), fds);
    EXPECT_EQ(entries("/proc/self/task"), threads);
    EXPECT_EQ(rig.port().applications(), 0);
}

// An independent application: Python's serial module in a child process.
TEST(PtyPortLifecycle, PythonSerialApplication)
{
    if (::access("/usr/bin/python3", X_OK) != 0
        || run_command("/usr/bin/python3 -c 'import serial' 2>/dev/null").status != 0)
        GTEST_FAIL() << "python3-serial is not installed (scripts/deps.sh installs it)";
    PtyRig rig;
    TempRoot scratch;
    const std::string script = (scratch.path() / "app.py").string();
    std::ofstream(script) << R"PY(
import sys, serial
port = serial.Serial(sys.argv[1], 115200, timeout=20)
port.write(bytes(range(256)))
port.flush()
got = port.read(256)
port.reset_output_buffer()
port.close()
sys.exit(0 if got == bytes(reversed(range(256))) else 1)
)PY";
    std::thread answer([&] {
        if (rig.wait_for([&] { return rig.net_received().size() >= 256; })) {
            const std::string got = rig.net_received();
            rig.send(std::string(got.rbegin(), got.rend()));
        }
    });
    const CommandResult r = run_command("/usr/bin/python3 " + script + " " + rig.link() + " 2>&1");
    answer.join();
    EXPECT_EQ(r.status, 0) << r.out;
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(rig.net_received(), all);
    ASSERT_TRUE(rig.wait_command(CMD_DISC));
    // The runtime handles Disc before FlushToNet when it fetches both at once.
    EXPECT_EQ(rig.commands().front(), CMD_PREP);
    EXPECT_EQ(rig.count(CMD_PREP), 1);
    EXPECT_EQ(rig.count(CMD_DISC), 1);
    EXPECT_TRUE(rig.wait_command(CMD_FLUSH_TO_NET));
}

} // namespace
} // namespace kolm::test
