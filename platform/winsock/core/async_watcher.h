// The thread behind WSAAsyncSelect: watches the selected sockets and posts
// the program's message when a selected event happens.
//
// As in Winsock, each event is posted once and then waits to be re-armed by
// the call that consumes it (recv re-arms FD_READ, accept FD_ACCEPT, a send
// that would block FD_WRITE); FD_CONNECT and FD_CLOSE come once. The thread
// runs only while some socket is selected.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "event_fd.h"
#include "socket.h"

namespace kolm::platform::net {

// Delivers one event: the window and message of the selection, the socket
// value, the FD_* event and its WSA error code.
using AsyncPoster = std::function<void(uint32_t hwnd, uint32_t msg, uint32_t socket, uint32_t event, int error)>;

class AsyncWatcher {
public:
    static AsyncWatcher& instance();
    ~AsyncWatcher();

    void set_poster(AsyncPoster poster);
    // Replaces the socket's selection; an empty mask cancels it.
    void select(uint32_t socket_value, const std::shared_ptr<Socket>& sock, uint32_t hwnd, uint32_t msg,
                uint32_t mask);
    void cancel(const Socket* sock);
    bool selected(const Socket* sock);
    // Re-arms the events of the mask that a call has consumed. With no
    // events, only has the socket looked at again: a call changed its state
    // (connect, listen), and with it what there is to watch.
    void rearm(const Socket* sock, uint32_t events);

private:
    AsyncWatcher() = default;
    void run();
    void wake() { m_wake.set(); }

    struct Entry {
        uint32_t socket_value = 0;
        std::shared_ptr<Socket> sock;
        uint32_t hwnd = 0;
        uint32_t msg = 0;
        uint32_t mask = 0;
        uint32_t armed = 0;      // events of mask not yet posted
        uint64_t generation = 0; // changes with every new selection
        uint64_t version = 0;    // changes with every re-arm
        bool parked = false;     // nothing can happen until a call re-arms
    };

    std::mutex m_mutex;
    std::map<const Socket*, Entry> m_entries; // guarded by m_mutex
    AsyncPoster m_poster;                     // guarded by m_mutex
    uint64_t m_next_generation = 1;           // guarded by m_mutex
    bool m_running = false;                   // guarded by m_mutex
    bool m_stopping = false;                  // guarded by m_mutex
    std::thread m_thread;
    EventFd m_wake;
};

} // namespace kolm::platform::net
