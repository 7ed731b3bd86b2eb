#include "socket.h"

#include "win32/wsaerror.h"

namespace kolm::platform::net {

Socket::Socket(Family family, SockType type) : m_family(family), m_type(type) {}

Socket::~Socket() = default;

Status Socket::set_linger(Linger)
{
    return WsaError{WSAENOPROTOOPT};
}

Result<Linger> Socket::get_linger()
{
    return WsaError{WSAENOPROTOOPT};
}

void Socket::close()
{
    m_cancel.set();
    on_close();
}

WaitResult Socket::wait(int fd, short events, short* revents)
{
    return wait_fd(fd, events, m_cancel.fd(), std::nullopt, revents);
}

} // namespace kolm::platform::net
