// select over any mix of kernel and user-space sockets, with one poll.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "socket.h"

namespace kolm::platform::net {

struct SelectEntry {
    Socket* sock;
    SelectKind kind;
    bool ready = false; // out
};

// Waits until at least one entry is ready or the time-out passes (none:
// no limit). Returns how many entries are ready, 0 on time-out. A socket
// closed by another thread meanwhile counts as ready in every set it is in,
// so that the caller's next call on it reports the close.
int select_sockets(std::vector<SelectEntry>& entries, std::optional<std::chrono::microseconds> timeout);

} // namespace kolm::platform::net
