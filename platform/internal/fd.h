// Owner of one file descriptor: closes it exactly once, when the owner is
// destroyed or given another descriptor. Moves hand the descriptor on and
// leave the source empty (-1). Not thread-safe: one owner thread at a time
// (or the owner's object lock) as for any other member.
#pragma once

#include <utility>

namespace kolm::platform {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept
        : m_fd(other.release())
    {
    }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }

    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }
    // Closes the current descriptor (if any) and takes `fd`.
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

} // namespace kolm::platform
