// The platform's POSIX helpers: the system-call wrappers (EINTR retried),
// the descriptor owner, the eventfd waker, case-free comparison and the
// result type.
#include "internal/fd.h"
#include "internal/nocase.h"
#include "internal/result.h"
#include "internal/system.h"
#include "internal/waker.h"

#include "test_support.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace kolm::platform;
using kolm::test::wait_until;

bool fd_open(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

bool readable(int fd)
{
    pollfd p { fd, POLLIN, 0 };
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// --- EINTR ---

std::atomic<int> g_signals { 0 };

void count_signal(int)
{
    g_signals.fetch_add(1);
}

// Whether thread `tid` is asleep in the kernel (state S in its stat line).
bool sleeping(pid_t tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S';
}

// Runs `blocking_read` on a thread blocked on an empty pipe, interrupts it
// with a signal that does not restart calls, then makes a byte readable.
// Returns what the read returned and the errno it left.
template <typename Read>
std::pair<long, int> interrupted_read(Read blocking_read)
{
    struct sigaction sa {};
    struct sigaction old {};
    sa.sa_handler = count_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: the read sees EINTR
    sigaction(SIGUSR1, &sa, &old);
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    std::atomic<pid_t> tid { 0 };
    std::atomic<long> got { 0 };
    std::atomic<int> err { 0 };
    std::thread reader([&] {
        tid = static_cast<pid_t>(::syscall(SYS_gettid));
        char c;
        errno = 0;
        const long n = blocking_read(fds[0], &c);
        err = errno;
        got = n;
    });
    EXPECT_TRUE(wait_until([&] { return tid.load() != 0 && sleeping(tid.load()); }));
    const int before = g_signals.load();
    ::pthread_kill(reader.native_handle(), SIGUSR1);
    EXPECT_TRUE(wait_until([&] { return g_signals.load() > before; }));
    // Either the read already returned EINTR, or (retried) sleeps again.
    EXPECT_TRUE(wait_until([&] { return sleeping(tid.load()) || got.load() != 0; }));
    const char byte = 'x';
    EXPECT_EQ(::write(fds[1], &byte, 1), 1);
    reader.join();
    ::close(fds[0]);
    ::close(fds[1]);
    sigaction(SIGUSR1, &old, nullptr);
    return { got.load(), err.load() };
}

TEST(SystemCalls, ReadIsRetriedWhenASignalInterruptsIt)
{
    // Unwrapped, the same interruption ends the read with EINTR: the
    // signal does reach the call.
    const auto raw = interrupted_read([](int fd, char* c) { return static_cast<long>(::read(fd, c, 1)); });
    EXPECT_EQ(raw.first, -1);
    EXPECT_EQ(raw.second, EINTR);

    const auto wrapped = interrupted_read([](int fd, char* c) {
        auto r = sys::read(fd, c, 1);
        return r ? static_cast<long>(*r) : -static_cast<long>(r.error());
    });
    EXPECT_EQ(wrapped.first, 1) << "errno " << -wrapped.first;
}

TEST(SystemCalls, FailureCarriesErrno)
{
    char c;
    auto r = sys::read(-1, &c, 1);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), EBADF);
    auto w = sys::write(-1, &c, 1);
    ASSERT_FALSE(w);
    EXPECT_EQ(w.error(), EBADF);
}

// --- Fd ---

TEST(Fd, ClosesOnceWhenItsLastOwnerGoes)
{
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    ::close(p[1]);
    const int raw = p[0];
    {
        Fd moved_to;
        {
            Fd first(raw);
            moved_to = std::move(first);
            EXPECT_FALSE(first.valid());
            EXPECT_EQ(first.get(), -1);
        }
        // The moved-from owner's end closed nothing.
        EXPECT_TRUE(fd_open(raw));
        EXPECT_EQ(moved_to.get(), raw);
        Fd constructed(std::move(moved_to));
        EXPECT_FALSE(moved_to);
        EXPECT_TRUE(fd_open(raw));
    }
    EXPECT_FALSE(fd_open(raw));
}

TEST(Fd, AssignmentAndResetCloseWhatWasHeld)
{
    int a[2];
    int b[2];
    ASSERT_EQ(::pipe(a), 0);
    ASSERT_EQ(::pipe(b), 0);
    Fd x(a[0]);
    Fd y(b[0]);
    x = std::move(y);
    EXPECT_FALSE(fd_open(a[0])) << "the descriptor replaced by assignment stays open";
    EXPECT_EQ(x.get(), b[0]);
    x.reset(a[1]);
    EXPECT_FALSE(fd_open(b[0])) << "the descriptor replaced by reset stays open";
    const int released = x.release();
    EXPECT_EQ(released, a[1]);
    EXPECT_FALSE(x.valid());
    EXPECT_TRUE(fd_open(released)) << "release closed the descriptor";
    ::close(released);
    ::close(b[1]);
}

// --- Waker ---

TEST(Waker, WakesUntilDrainedAndSeveralWakesReadAsOne)
{
    Waker w;
    ASSERT_TRUE(w.valid());
    EXPECT_FALSE(readable(w.fd()));
    w.wake();
    w.wake();
    w.wake();
    EXPECT_TRUE(readable(w.fd()));
    w.drain();
    EXPECT_FALSE(readable(w.fd())) << "one drain leaves the waker signalled";
    w.drain(); // nothing to drain: must not block
    EXPECT_FALSE(readable(w.fd()));
    w.wake();
    EXPECT_TRUE(readable(w.fd()));
}

TEST(Waker, AWakeFromAnotherThreadEndsAPoll)
{
    Waker w;
    ASSERT_TRUE(w.valid());
    std::thread t([&w] { w.wake(); });
    pollfd p { w.fd(), POLLIN, 0 };
    EXPECT_EQ(::poll(&p, 1, 30000), 1);
    t.join();
    w.drain();
    EXPECT_FALSE(readable(w.fd()));
}

// --- case-free comparison ---

TEST(NoCase, ComparesAsciiLettersWithoutCaseAndOtherBytesAsTheyAre)
{
    struct Row {
        const char* name;
        std::string a;
        std::string b;
        int order; // sign of compare_nocase(a, b)
    };
    const Row rows[] = {
        { "same", "Software", "Software", 0 },
        { "case only", "Config Manager", "CONFIG MANAGER", 0 },
        { "empty", "", "", 0 },
        { "prefix sorts first", "Ports", "PORTS\\0001", -1 },
        { "letters by alphabet", "com2", "COM1", 1 },
        // Folded to lower case, as strcasecmp does: '_' before 'a'.
        { "underscore before letters", "_x", "Ax", -1 },
        // ANSI bytes above 0x7f do not fold and sort after ASCII.
        { "high bytes do not fold", "\xe9t\xe9", "\xc9T\xc9", 1 },
        { "high byte after ascii", "\xe9", "z", 1 },
        { "embedded NUL counts", std::string("a\0b", 3), std::string("A\0B", 3), 0 },
    };
    for (const Row& r : rows) {
        const int got = compare_nocase(r.a, r.b);
        EXPECT_EQ((got > 0) - (got < 0), r.order) << r.name;
        EXPECT_EQ(equal_nocase(r.a, r.b), r.order == 0) << r.name;
        const int back = compare_nocase(r.b, r.a);
        EXPECT_EQ((back > 0) - (back < 0), -r.order) << r.name << " (reversed)";
    }
}

TEST(NoCase, FoldsAndPrefixes)
{
    EXPECT_EQ(upper_ascii("Root\\Ports\\\xe9z"), "ROOT\\PORTS\\\xe9Z");
    EXPECT_EQ(lower_ascii("KOLMVX.VXD"), "kolmvx.vxd");
    EXPECT_TRUE(starts_with_nocase("ROOT\\Ports\\0001", "root\\ports\\"));
    EXPECT_FALSE(starts_with_nocase("Root", "root\\ports"));
    EXPECT_TRUE(starts_with_nocase("anything", ""));
}

// --- Result ---

TEST(Result, TellsAValueFromAFailureOfTheSameType)
{
    using R = kolm::Result<unsigned, unsigned>;
    const R value = 5u;
    const R failure = kolm::Failure<unsigned> { 5u };
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, 5u);
    EXPECT_EQ(value.error(), 0u) << "a value's error is success";
    ASSERT_FALSE(failure);
    EXPECT_EQ(failure.error(), 5u);
    EXPECT_EQ(failure.value_or(9u), 9u);
    EXPECT_EQ(value.value_or(9u), 5u);
}

TEST(Result, MovesItsValueOut)
{
    kolm::Result<std::unique_ptr<int>, int> r = std::make_unique<int>(7);
    std::unique_ptr<int> p = std::move(r).value();
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, 7);
}

} // namespace
