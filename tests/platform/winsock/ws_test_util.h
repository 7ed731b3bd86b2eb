// Helpers of the Winsock tests, written against the Winsock surface as a
// program sees it.
#pragma once

#include <gtest/gtest.h>

#include "test_support.h"
#include "win32.h"

namespace kolm::test {

// A fresh machine root and Windows Sockets started for each test.
class WinsockTest : public RootedTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

// A TCP socket listening on 127.0.0.1 at a free port.
SOCKET listen_loopback(u_short* port);

sockaddr_in loopback(u_short port);

// A blocking connection to 127.0.0.1:port; INVALID_SOCKET on failure.
SOCKET connect_loopback(u_short port);

// select() on one socket and one set, waiting at most `seconds`.
enum class Set { read, write, except };
bool wait_for(SOCKET s, Set set, int seconds = 10);

// Receives exactly n bytes (or fewer if the connection ends or fails).
std::string recv_exactly(SOCKET s, size_t n);

} // namespace kolm::test
