// One pseudo-terminal pair set up as a serial line: the driver keeps the
// master end, an application opens the slave as its COM port.
#pragma once

#include "internal/result.h"

#include <memory>
#include <string>
#include <utility>

#include <sys/types.h>
#include <termios.h>

namespace kolm::platform::portdrv {

// A failed system call inside the port driver: which step, and errno.
struct SysError {
    std::string step;
    int err = 0;
    std::string message() const;
};

// A value or the SysError that prevented it.
template <typename T>
using SysResult = kolm::Result<T, SysError>;

inline kolm::Failure<SysError> failed(SysError e)
{
    return {std::move(e)};
}

class PtyDevice {
public:
    // A new pair: master non-blocking and close-on-exec, packet mode on,
    // the slave raw with EXTPROC (so every termios change the application
    // makes is reported), owned by `group` with mode 0660 so that group's
    // members may use it.
    static SysResult<std::unique_ptr<PtyDevice>> create(gid_t group);
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    int master() const { return m_master; }
    const std::string& slave_path() const { return m_slave; }
    // The name published for applications: /proc/PID/fd/N of a descriptor
    // of ours for the slave. It leads to this line only while this process
    // holds it: once the process ends, even by SIGKILL, the name is gone,
    // and a stale link can never lead to another program's terminal that
    // got the same /dev/pts number. Once the pair is closed, opening it
    // fails (EIO) even if the number has been given out again.
    const std::string& published_path() const { return m_published; }

    // Whether anyone has the slave open at this moment.
    bool slave_open() const;

    // The slave's termios as the application left it; false on failure.
    bool line_settings(termios& out) const;
    // Sets the slave's termios from the master side (reported on the master
    // as a packet-mode IOCTL status, like an application's change).
    bool set_line_settings(const termios& t);
    // Back to the settings the pair was created with.
    bool reset_line();

    // Throws away bytes written to the master that no application has read.
    // A pty keeps them across the last close and hands them to the next
    // opener, and only a flush on the slave side removes them, so this opens
    // the slave itself (which inotify reports like any other open and close).
    struct Discard {
        bool opened = false;  // the slave was opened (and closed again)
        bool flushed = false;
    };
    Discard discard_unread_input();
    // Throws away what the application wrote that the driver has not read.
    bool discard_unread_output();

private:
    PtyDevice(int master, int handle, std::string slave, const termios& initial);

    int m_master = -1;    // owned; -1 once closed
    int m_handle = -1;    // owned: the slave opened with O_PATH
    std::string m_slave;  // /dev/pts/N
    std::string m_published; // /proc/PID/fd/<m_handle>
    termios m_initial{};  // raw, EXTPROC, as created
};

} // namespace kolm::platform::portdrv
