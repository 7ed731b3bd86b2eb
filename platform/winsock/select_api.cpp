// select over the Winsock fd_set.
#include "api.h"

#include <chrono>
#include <optional>
#include <vector>

#include "winsock/core/select.h"

using namespace kolm::platform;
using namespace kolm::platform::winsock;

namespace {

// Keeps in a set only the sockets found ready, in their order.
void keep_ready(win32::fd_set* set, const std::vector<net::SelectEntry>& entries, size_t first)
{
    if (!set)
        return;
    u_int kept = 0;
    for (u_int i = 0; i < set->fd_count; ++i)
        if (entries[first + i].ready)
            set->fd_array[kept++] = set->fd_array[i];
    set->fd_count = kept;
}

} // namespace

int win32::__WSAFDIsSet(SOCKET s, fd_set* set)
{
    if (!set)
        return 0;
    const u_int n = set->fd_count < kFdSetSize ? set->fd_count : kFdSetSize;
    for (u_int i = 0; i < n; ++i)
        if (set->fd_array[i] == s)
            return 1;
    return 0;
}

int win32::select(int, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const struct timeval* timeout)
{
    if (!started())
        return fail(WSANOTINITIALISED);
    fd_set* sets[3] = {readfds, writefds, exceptfds};
    const net::SelectKind kinds[3] = {net::SelectKind::read, net::SelectKind::write, net::SelectKind::except};
    size_t total = 0;
    for (fd_set* set : sets) {
        if (set && set->fd_count > kFdSetSize)
            return fail(WSAEINVAL);
        total += set ? set->fd_count : 0;
    }
    // Winsock refuses a select with nothing to wait for.
    if (total == 0)
        return fail(WSAEINVAL);
    std::optional<std::chrono::microseconds> wait;
    if (timeout) {
        if (timeout->tv_sec < 0 || timeout->tv_usec < 0)
            return fail(WSAEINVAL);
        wait = std::chrono::seconds(timeout->tv_sec) + std::chrono::microseconds(timeout->tv_usec);
    }

    // The sockets stay alive for the whole wait, even if closed meanwhile.
    std::vector<std::shared_ptr<net::Socket>> held;
    std::vector<net::SelectEntry> entries;
    size_t first[3];
    for (int k = 0; k < 3; ++k) {
        first[k] = entries.size();
        if (!sets[k])
            continue;
        for (u_int i = 0; i < sets[k]->fd_count; ++i) {
            auto sock = socket_for(sets[k]->fd_array[i]);
            if (!sock)
                return fail(sock.error());
            entries.push_back({sock->get(), kinds[k]});
            held.push_back(std::move(*sock));
        }
    }
    const int n = net::select_sockets(entries, wait);
    for (int k = 0; k < 3; ++k)
        keep_ready(sets[k], entries, first[k]);
    return n;
}
