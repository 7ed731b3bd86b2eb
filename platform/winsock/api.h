// Helpers shared by the exported Winsock functions.
#pragma once

#define KOLM_PLATFORM_INTERNAL
#include "win32.h"

#include <memory>

#include "winsock/core/net_result.h"
#include "winsock/core/sock_addr.h"
#include "winsock/core/socket.h"

namespace kolm::platform::winsock {

// WSAStartup has been called more often than WSACleanup.
bool started();

// Sets the thread's WSA error and returns SOCKET_ERROR.
int fail(int code);

// The socket behind a value, after the checks every call makes first:
// WSANOTINITIALISED before WSAStartup, WSAENOTSOCK for an unknown value.
net::Result<std::shared_ptr<net::Socket>> socket_for(win32::SOCKET s);

// A Winsock address record (sockaddr_in, 16 bytes, or sockaddr_ipx, 14)
// as the layer's address; WSAEFAULT when too short, WSAEAFNOSUPPORT for
// another family.
net::Result<net::SockAddr> address_from(const win32::sockaddr* name, int namelen);

// Writes an address back in its Winsock form; WSAEFAULT when the caller's
// buffer is missing or too small, in which case nothing is written.
int address_to(const net::SockAddr& addr, win32::sockaddr* name, int* namelen);

// Closes a socket that has left the table: cancels its WSAAsyncSelect and
// wakes its blocked calls.
void close_socket(const std::shared_ptr<net::Socket>& sock);

} // namespace kolm::platform::winsock
