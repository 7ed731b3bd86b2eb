// One copy of a program per machine root: an exclusive lock on
// run/<program>.lock, held for the life of the object. The kernel lets it
// go when the process ends in any way (SIGKILL included), so a crashed
// program never locks its successor out.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

namespace kolm::platform {

class InstanceLock {
public:
    // The lock, or null when another process holds it (its process id in
    // `holder` when known, else 0) or the file cannot be made (`holder` -1).
    static std::unique_ptr<InstanceLock> claim(const std::string& program, pid_t* holder = nullptr);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    explicit InstanceLock(int fd) : m_fd(fd) {}
    int m_fd; // owned; flock(LOCK_EX) held on it
};

} // namespace kolm::platform
