// A connected TCP pair made with the program's own socket calls.
#pragma once

#include <string>

#include "win32.h"

namespace kolm::test {

// Two connected Windows Sockets on loopback: `a` is the runtime's end.
struct TcpPair {
    TcpPair();
    ~TcpPair();
    SOCKET a = INVALID_SOCKET;
    SOCKET b = INVALID_SOCKET;
    // Sends all of `data` on b.
    void send_b(const std::string& data);
    // Receives exactly n bytes on b (blocking), fewer when the peer closed.
    std::string recv_b(size_t n);
};

} // namespace kolm::test
