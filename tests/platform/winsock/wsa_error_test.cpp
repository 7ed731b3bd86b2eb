// The errno-to-WSA table, row by row, and the resolver's codes.
#include <cerrno>
#include <netdb.h>

#include <gtest/gtest.h>

#include "winsock/core/wsa_error.h"

namespace {

using kolm::platform::net::wsa_error_from_errno;
using kolm::platform::net::wsa_error_from_gai;

struct Row {
    int from;
    int to;
    const char* name;
};

TEST(WsaErrorTable, EveryErrnoOfSocketCallsHasItsCode)
{
    const Row rows[] = {
        {0, 0, "0"},
        {EINTR, WSAEINTR, "EINTR"},
        {EBADF, WSAEBADF, "EBADF"},
        {EACCES, WSAEACCES, "EACCES"},
        {EPERM, WSAEACCES, "EPERM"},
        {EFAULT, WSAEFAULT, "EFAULT"},
        {EINVAL, WSAEINVAL, "EINVAL"},
        {EMFILE, WSAEMFILE, "EMFILE"},
        {ENFILE, WSAEMFILE, "ENFILE"},
        {EAGAIN, WSAEWOULDBLOCK, "EAGAIN"},
        {EWOULDBLOCK, WSAEWOULDBLOCK, "EWOULDBLOCK"},
        {EINPROGRESS, WSAEWOULDBLOCK, "EINPROGRESS"},
        {EALREADY, WSAEALREADY, "EALREADY"},
        {ENOTSOCK, WSAENOTSOCK, "ENOTSOCK"},
        {EDESTADDRREQ, WSAEDESTADDRREQ, "EDESTADDRREQ"},
        {EMSGSIZE, WSAEMSGSIZE, "EMSGSIZE"},
        {EPROTOTYPE, WSAEPROTOTYPE, "EPROTOTYPE"},
        {ENOPROTOOPT, WSAENOPROTOOPT, "ENOPROTOOPT"},
        {EPROTONOSUPPORT, WSAEPROTONOSUPPORT, "EPROTONOSUPPORT"},
        {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT, "ESOCKTNOSUPPORT"},
        {EOPNOTSUPP, WSAEOPNOTSUPP, "EOPNOTSUPP"},
        {EPFNOSUPPORT, WSAEPFNOSUPPORT, "EPFNOSUPPORT"},
        {EAFNOSUPPORT, WSAEAFNOSUPPORT, "EAFNOSUPPORT"},
        {EADDRINUSE, WSAEADDRINUSE, "EADDRINUSE"},
        {EADDRNOTAVAIL, WSAEADDRNOTAVAIL, "EADDRNOTAVAIL"},
        {ENETDOWN, WSAENETDOWN, "ENETDOWN"},
        {ENETUNREACH, WSAENETUNREACH, "ENETUNREACH"},
        {ENETRESET, WSAENETRESET, "ENETRESET"},
        {ECONNABORTED, WSAECONNABORTED, "ECONNABORTED"},
        {ECONNRESET, WSAECONNRESET, "ECONNRESET"},
        {EPIPE, WSAECONNRESET, "EPIPE"},
        {ENOBUFS, WSAENOBUFS, "ENOBUFS"},
        {ENOMEM, WSAENOBUFS, "ENOMEM"},
        {EISCONN, WSAEISCONN, "EISCONN"},
        {ENOTCONN, WSAENOTCONN, "ENOTCONN"},
        {ESHUTDOWN, WSAESHUTDOWN, "ESHUTDOWN"},
        {ETOOMANYREFS, WSAETOOMANYREFS, "ETOOMANYREFS"},
        {ETIMEDOUT, WSAETIMEDOUT, "ETIMEDOUT"},
        {ECONNREFUSED, WSAECONNREFUSED, "ECONNREFUSED"},
        {ELOOP, WSAELOOP, "ELOOP"},
        {ENAMETOOLONG, WSAENAMETOOLONG, "ENAMETOOLONG"},
        {EHOSTDOWN, WSAEHOSTDOWN, "EHOSTDOWN"},
        {EHOSTUNREACH, WSAEHOSTUNREACH, "EHOSTUNREACH"},
        {ENOTEMPTY, WSAENOTEMPTY, "ENOTEMPTY"},
        {EUSERS, WSAEUSERS, "EUSERS"},
        {EDQUOT, WSAEDQUOT, "EDQUOT"},
        {ESTALE, WSAESTALE, "ESTALE"},
        {EREMOTE, WSAEREMOTE, "EREMOTE"},
        // Not a socket errno: still a failure, never 0.
        {ENOEXEC, WSAEFAULT, "ENOEXEC (no row)"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(wsa_error_from_errno(r.from), r.to) << "row " << r.name;
}

TEST(WsaErrorTable, ResolverStatusHasItsCode)
{
    const Row rows[] = {
        {0, 0, "0"},
        {EAI_NONAME, WSAHOST_NOT_FOUND, "EAI_NONAME"},
        {EAI_AGAIN, WSATRY_AGAIN, "EAI_AGAIN"},
        {EAI_FAIL, WSANO_RECOVERY, "EAI_FAIL"},
        {EAI_NODATA, WSANO_DATA, "EAI_NODATA"},
        {EAI_MEMORY, WSAENOBUFS, "EAI_MEMORY"},
        {EAI_SERVICE, WSANO_RECOVERY, "EAI_SERVICE (no row)"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(wsa_error_from_gai(r.from), r.to) << "row " << r.name;
}

} // namespace
