// WSAStartup / WSACleanup, the per-thread error, and the helpers every
// exported function starts with.
#include "api.h"

#include <cstring>
#include <mutex>
#include <string>

#include "ipx/segment_config.h"
#include "socket_table.h"
#include "winsock/core/async_watcher.h"

namespace kolm::platform::winsock {

namespace {

std::mutex g_startup_mutex;
int g_startups = 0; // guarded by g_startup_mutex

void fill_wsadata(win32::WSADATA* d)
{
    std::memset(d, 0, sizeof *d);
    d->wVersion = MAKEWORD(1, 1);
    d->wHighVersion = MAKEWORD(1, 1);
    std::strncpy(d->szDescription, "Windows Sockets 1.1: TCP/IP and IPX", win32::kWsaDescriptionLen);
    std::strncpy(d->szSystemStatus, "Running", win32::kWsaSysStatusLen);
    d->iMaxSockets = static_cast<unsigned short>(SocketTable::kMaxSockets);
    // NOTE: no UDP here; IPX datagram sockets report their limit through
    // IPX_MAXSIZE.
    d->iMaxUdpDg = 0;
    d->lpVendorInfo = nullptr;
}

} // namespace

bool started()
{
    std::lock_guard lock(g_startup_mutex);
    return g_startups > 0;
}

int fail(int code)
{
    win32::WSASetLastError(code);
    return SOCKET_ERROR;
}

net::Result<std::shared_ptr<net::Socket>> socket_for(win32::SOCKET s)
{
    if (!started())
        return net::WsaError{WSANOTINITIALISED};
    auto sock = SocketTable::instance().find(s);
    if (!sock)
        return net::WsaError{WSAENOTSOCK};
    return sock;
}

void close_socket(const std::shared_ptr<net::Socket>& sock)
{
    net::AsyncWatcher::instance().cancel(sock.get());
    sock->close();
}

} // namespace kolm::platform::winsock

using namespace kolm::platform::winsock;

int win32::WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData)
{
    if (!lpWSAData)
        return WSAEFAULT;
    fill_wsadata(lpWSAData);
    const BYTE major = LOBYTE(wVersionRequested);
    const BYTE minor = HIBYTE(wVersionRequested);
    // Anything from 1.1 up is served as 1.1, which the caller reads back
    // from wVersion.
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    // NOTE: settings of the IPX segment that cannot be read leave the
    // network subsystem unusable, as a broken protocol binding does on
    // Windows: the program is told at start-up, not at its first socket.
    std::string why;
    if (!kolm::platform::ipx::segment_config_from_env(&why)) {
        OutputDebugStringA(("WSAStartup: " + why + "\n").c_str());
        return WSASYSNOTREADY;
    }
    std::lock_guard lock(g_startup_mutex);
    ++g_startups;
    return 0;
}

int win32::WSACleanup()
{
    {
        std::lock_guard lock(g_startup_mutex);
        if (g_startups == 0)
            return fail(WSANOTINITIALISED);
        if (--g_startups > 0)
            return 0;
    }
    // The last cleanup closes what the process left open, as Winsock does.
    for (auto& [value, sock] : SocketTable::instance().remove_all())
        close_socket(sock);
    return 0;
}

// The same per-thread value as GetLastError, as on Windows.
int win32::WSAGetLastError()
{
    return static_cast<int>(GetLastError());
}

void win32::WSASetLastError(int iError)
{
    SetLastError(static_cast<DWORD>(iError));
}
