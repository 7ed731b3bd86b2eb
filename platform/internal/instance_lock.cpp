#include "kolm/instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "internal/machine_root.h"

namespace kolm::platform {

std::unique_ptr<InstanceLock> InstanceLock::claim(const std::string& program, pid_t* holder)
{
    if (holder)
        *holder = -1;
    const auto path = machine_dir("run") / (program + ".lock");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return nullptr;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (holder) {
            // The holder wrote its number when it took the lock; a reader
            // that comes in between finds nothing yet.
            char buf[24] = {};
            const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
            *holder = n > 0 ? static_cast<pid_t>(std::atol(buf)) : 0;
        }
        ::close(fd);
        return nullptr;
    }
    // The number only tells a second copy who holds the lock; the lock
    // holds without it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock()
{
    ::close(m_fd);
}

} // namespace kolm::platform
