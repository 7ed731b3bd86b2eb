#include "wsa_error.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <netdb.h>

namespace kolm::platform::net {

namespace {

void report_unknown_errno(int e)
{
    // One line per process is enough to find the missing row.
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        std::fprintf(stderr, "winsock: errno %d has no WSA code; reported as WSAEFAULT\n", e);
}

} // namespace

int wsa_error_from_errno(int e)
{
    switch (e) {
    case 0:               return 0;
    case EINTR:           return WSAEINTR;
    case EBADF:           return WSAEBADF;
    case EACCES:
    case EPERM:           return WSAEACCES;
    case EFAULT:          return WSAEFAULT;
    case EINVAL:          return WSAEINVAL;
    case EMFILE:
    case ENFILE:          return WSAEMFILE;
    case EAGAIN:          return WSAEWOULDBLOCK; // EWOULDBLOCK is the same number
    // A non-blocking connect under way is Winsock's "would block", not its
    // WSAEINPROGRESS (which means another blocking call is running).
    case EINPROGRESS:     return WSAEWOULDBLOCK;
    case EALREADY:        return WSAEALREADY;
    case ENOTSOCK:        return WSAENOTSOCK;
    case EDESTADDRREQ:    return WSAEDESTADDRREQ;
    case EMSGSIZE:        return WSAEMSGSIZE;
    case EPROTOTYPE:      return WSAEPROTOTYPE;
    case ENOPROTOOPT:     return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:      return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:    return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:    return WSAEAFNOSUPPORT;
    case EADDRINUSE:      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:   return WSAEADDRNOTAVAIL;
    case ENETDOWN:        return WSAENETDOWN;
    case ENETUNREACH:     return WSAENETUNREACH;
    case ENETRESET:       return WSAENETRESET;
    case ECONNABORTED:    return WSAECONNABORTED;
    case ECONNRESET:      return WSAECONNRESET;
    // Our own shutdown is refused before the kernel is asked, so a broken
    // pipe from the kernel means the peer has gone away.
    case EPIPE:           return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:          return WSAENOBUFS;
    case EISCONN:         return WSAEISCONN;
    case ENOTCONN:        return WSAENOTCONN;
    case ESHUTDOWN:       return WSAESHUTDOWN;
    case ETOOMANYREFS:    return WSAETOOMANYREFS;
    case ETIMEDOUT:       return WSAETIMEDOUT;
    case ECONNREFUSED:    return WSAECONNREFUSED;
    case ELOOP:           return WSAELOOP;
    case ENAMETOOLONG:    return WSAENAMETOOLONG;
    case EHOSTDOWN:       return WSAEHOSTDOWN;
    case EHOSTUNREACH:    return WSAEHOSTUNREACH;
    case ENOTEMPTY:       return WSAENOTEMPTY;
    case EUSERS:          return WSAEUSERS;
    case EDQUOT:          return WSAEDQUOT;
    case ESTALE:          return WSAESTALE;
    case EREMOTE:         return WSAEREMOTE;
    default:
        report_unknown_errno(e);
        return WSAEFAULT;
    }
}

int wsa_error_from_gai(int status)
{
    switch (status) {
    case 0:            return 0;
    case EAI_NONAME:   return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA:   return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    case EAI_AGAIN:    return WSATRY_AGAIN;
    case EAI_FAIL:     return WSANO_RECOVERY;
    case EAI_MEMORY:   return WSAENOBUFS;
    default:           return WSANO_RECOVERY;
    }
}

} // namespace kolm::platform::net
