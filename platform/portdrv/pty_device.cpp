#include "portdrv/pty_device.h"

#include "internal/system.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kolm::platform::portdrv {

std::string SysError::message() const
{
    return step + ": " + std::strerror(err);
}

namespace {

int close_keep_errno(int fd)
{
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
}

bool set_termios(int master, const termios& t)
{
    return sys::retry_eintr([&] { return ::tcsetattr(master, TCSANOW, &t); }) == 0;
}

} // namespace

SysResult<std::unique_ptr<PtyDevice>> PtyDevice::create(gid_t group)
{
    const int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0)
        return failed(SysError{"posix_openpt", errno});
    auto fail = [m](const char* step) {
        const int e = errno;
        close_keep_errno(m);
        return failed(SysError{step, e});
    };
    if (::grantpt(m) != 0)
        return fail("grantpt");
    if (::unlockpt(m) != 0)
        return fail("unlockpt");
    char name[128];
    if (::ptsname_r(m, name, sizeof name) != 0)
        return fail("ptsname");
    // NOTE: devpts gives a new slave the group of its mount options (often
    // tty, which setgid programs such as write(1) run as) or the opener's;
    // the group is set before the mode opens the port to it.
    if (::chown(name, static_cast<uid_t>(-1), group) != 0)
        return fail("chown slave");
    if (::chmod(name, 0660) != 0)
        return fail("chmod slave");

    // A new slave echoes and translates; termios calls on the master act on
    // the slave, so the line is made raw before anyone can open it.
    termios t{};
    if (::tcgetattr(m, &t) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_lflag |= EXTPROC;
    if (!set_termios(m, t))
        return fail("tcsetattr");
    int one = 1;
    if (::ioctl(m, TIOCPKT, &one) != 0)
        return fail("TIOCPKT");
    // A master reports HUP while no slave is open only once a slave has
    // been opened and closed; until then it reports nothing either way.
    const int s = ::ioctl(m, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0)
        return fail("TIOCGPTPEER");
    ::close(s);
    // A path-only descriptor neither opens the line (no tty open, nothing
    // for inotify) nor keeps it alive, yet /proc/PID/fd/N reopens it.
    const int handle = ::open(name, O_PATH | O_CLOEXEC);
    if (handle < 0)
        return fail("open slave path");
    // The IOCTL status our own setup caused is read and ignored like any
    // other change: it describes the line as it now is.
    return std::unique_ptr<PtyDevice>(new PtyDevice(m, handle, name, t));
}

PtyDevice::PtyDevice(int master, int handle, std::string slave, const termios& initial)
    : m_master(master)
    , m_handle(handle)
    , m_slave(std::move(slave))
    , m_published("/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(handle))
    , m_initial(initial)
{
}

PtyDevice::~PtyDevice()
{
    // Closing the master hangs up every application still holding the
    // slave: reads give 0, writes EIO, poll reports POLLHUP.
    if (m_master >= 0)
        ::close(m_master);
    if (m_handle >= 0)
        ::close(m_handle);
}

bool PtyDevice::slave_open() const
{
    pollfd p{m_master, 0, 0};
    // No deadline to recompute: a zero timeout only looks.
    if (sys::retry_eintr([&] { return ::poll(&p, 1, 0); }) < 0)
        return false;
    return !(p.revents & POLLHUP);
}

bool PtyDevice::line_settings(termios& out) const
{
    return ::tcgetattr(m_master, &out) == 0;
}

bool PtyDevice::set_line_settings(const termios& t)
{
    return set_termios(m_master, t);
}

bool PtyDevice::reset_line()
{
    return set_termios(m_master, m_initial);
}

PtyDevice::Discard PtyDevice::discard_unread_input()
{
    Discard d;
    // Read-only: its close (IN_CLOSE_NOWRITE) is then never merged with an
    // application's close of a read-write descriptor.
    const int s = ::ioctl(m_master, TIOCGPTPEER, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0)
        return d;
    d.opened = true;
    d.flushed = ::tcflush(s, TCIFLUSH) == 0;
    ::close(s);
    return d;
}

bool PtyDevice::discard_unread_output()
{
    return ::tcflush(m_master, TCIFLUSH) == 0;
}

} // namespace kolm::platform::portdrv
