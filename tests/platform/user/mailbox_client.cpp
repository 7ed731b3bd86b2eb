// A client of a program's mailbox, as another program (and, with root's
// leave, another user) would be: switches to the user, connects, sends the
// request, half-closes and reads.
//
//   mailbox_client UID PATH HEX
//
// Exit status: 0 refused (closed unread), 1 answered, 2 no connection,
// 3 could not switch to the user, 4 usage.
#include "raw_socket.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    enum { Refused = 0, Answered = 1, NoConnect = 2, CannotSwitchUser = 3, Usage = 4 };
    if (argc != 4) {
        std::fprintf(stderr, "usage: mailbox_client UID PATH HEX\n");
        return Usage;
    }
    const auto uid = static_cast<uid_t>(std::strtoul(argv[1], nullptr, 10));
    const std::string hex = argv[3];
    std::vector<uint8_t> request;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        request.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));

    if (uid != ::geteuid() && (::setgid(uid) != 0 || ::setuid(uid) != 0))
        return CannotSwitchUser;
    const int fd = kolm::test::connect_unix(argv[2]);
    if (fd < 0)
        return NoConnect;
    kolm::test::send_all_and_finish(fd, request);
    char byte;
    ssize_t n;
    do {
        n = ::read(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? Answered : Refused;
}
