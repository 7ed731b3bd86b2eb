#include "raw_socket.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kolm::test {

int connect_unix(const std::string& path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un sa {};
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path) {
        ::close(fd);
        return -1;
    }
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool send_all_and_finish(int fd, const std::vector<uint8_t>& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return ::shutdown(fd, SHUT_WR) == 0;
}

void close_fd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

} // namespace kolm::test
