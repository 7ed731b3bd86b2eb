// Helpers of the IPX tests.
#pragma once

#include <string>

#include "ws_test_util.h"

namespace kolm::test {

// The segment every IPX test of this process runs on: network 0000000A on
// a private group. Set in the environment before the first test, so that
// devsim and the peers started by the tests join the same segment.
inline constexpr DWORD kTestNetwork = 0x0000000A;

// An IPX datagram socket bound to `socket` (0: a dynamic number).
SOCKET ipx_socket(u_short socket = 0);

// The address of a bound IPX socket.
sockaddr_ipx ipx_name(SOCKET s);

// An address on our segment: network kTestNetwork.
sockaddr_ipx ipx_address(const char node[6], u_short socket);
sockaddr_ipx ipx_broadcast(u_short socket);

// "NNNNNNNN:XXXXXXXXXXXX:SSSS"
std::string ipx_text(const sockaddr_ipx& a);

} // namespace kolm::test
