// What a connection's two pump threads share with the connection manager:
// the connection's number and socket, handed to them when they start, the
// count of pumps that may still call that socket, and a close one of them
// met while the connection was still being set up.
//
// NOTE: the pumps never read the socket from the port record. A pump that
// runs late (its connection closed, a newer one up) would otherwise take
// the newer connection's socket for its own. And the manager cleans up
// Windows Sockets only once both pumps have left their socket, so no pump
// calls a socket that was closed or a Windows Sockets that was cleaned up
// under it.
#pragma once

#include <atomic>
#include <memory>

#include "win32.h"

struct PumpLink {
    PumpLink(unsigned connection, SOCKET s);
    ~PumpLink();
    PumpLink(const PumpLink&) = delete;
    PumpLink& operator=(const PumpLink&) = delete;

    // A pump makes no more calls on the socket; the second one to do so
    // releases whoever waits in await_off_socket.
    void leave_socket();
    void await_off_socket() const;

    // A close met while the connection is being set up is held back until
    // the driver has been told it is up (a hang-up before that would be
    // taken for the previous session's). True when this close is held.
    bool hold_close();
    // The driver knows the connection is up; true when a close was held
    // meanwhile and must be reported now.
    bool reported_up();

    const unsigned id;  // the connection's number (connection_is)
    const SOCKET sock;  // the connection's socket, owned by the manager

private:
    enum Setup { Opening, Up, CloseHeld };
    std::atomic<int> m_on_socket{2}; // pumps that may still call sock
    HANDLE m_off_socket;             // manual reset: set once m_on_socket is 0
    std::atomic<int> m_setup{Opening};
};

// Takes the next connection number, before the runtime goes online: a
// pump of an earlier connection never counts as current again.
void begin_connection();
// Starts VxDToNetThread and NetToVxDThread for the connection begun last,
// on `sock`; its link becomes the current one. False when a pump could not
// start.
bool start_pumps(SOCKET sock);
// The current connection's link (null before the first connection).
std::shared_ptr<PumpLink> current_link();
// A pump thread's link, from the parameter it was started with (once).
std::shared_ptr<PumpLink> take_link(LPVOID param);

// Each connection's pump threads carry its number. A pump of an earlier
// connection that runs late (its socket was closed and a new connection is
// already up) must neither work on nor report for the new one.
unsigned current_connection();
bool connection_is(unsigned id); // still online, and still this connection
