// WSAAsyncSelect: the watcher thread posts the program's message.
#include "api.h"

#include <mutex>

#include "winsock/core/async_watcher.h"

using namespace kolm::platform;
using namespace kolm::platform::winsock;

namespace {

void post_event(uint32_t hwnd, uint32_t msg, uint32_t socket, uint32_t event, int error)
{
    PostMessageA(DwordToHandle<HWND>(hwnd), msg, socket,
                 WSAMAKESELECTREPLY(static_cast<WORD>(event), static_cast<WORD>(error)));
}

constexpr LONG kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
static_assert(FD_READ == net::async_read && FD_WRITE == net::async_write && FD_OOB == net::async_oob &&
              FD_ACCEPT == net::async_accept && FD_CONNECT == net::async_connect && FD_CLOSE == net::async_close);

} // namespace

int win32::WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, LONG lEvent)
{
    auto sock = socket_for(s);
    if (!sock)
        return fail(sock.error());
    if (lEvent & ~kAllEvents)
        return fail(WSAEINVAL);
    auto& watcher = net::AsyncWatcher::instance();
    if (lEvent != 0) {
        if (!hWnd)
            return fail(WSAEINVAL);
        static std::once_flag poster_set;
        std::call_once(poster_set, [&watcher] { watcher.set_poster(post_event); });
        // A selected socket is non-blocking, as Winsock makes it.
        (*sock)->set_nonblocking(true);
    }
    // An empty mask cancels the selection; the socket may then be made
    // blocking again with FIONBIO.
    watcher.select(s, *sock, HandleToDword(hWnd), wMsg, static_cast<uint32_t>(lEvent));
    return 0;
}
