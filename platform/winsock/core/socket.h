// One socket of the layer, whatever carries it: a kernel TCP or UDP socket,
// or a user-space IPX socket. The Winsock surface checks arguments and
// converts records; everything below that line goes through this interface.
//
// Sockets are shared (std::shared_ptr): a call in progress keeps its socket
// alive, so closesocket from another thread never frees or reuses a
// descriptor that a blocked call is still using. closesocket wakes such a
// call instead, through the socket's cancel descriptor.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "event_fd.h"
#include "net_result.h"
#include "poll_wait.h"
#include "sock_addr.h"

namespace kolm::platform::net {

enum class SelectKind { read, write, except };
enum class ShutdownHow { receive, send, both };

// Socket options the layer knows; the Winsock surface maps (level, name).
enum class Option {
    reuse_addr,
    keep_alive,
    broadcast,
    oob_inline,
    snd_buf,
    rcv_buf,
    error,       // read only; reading it clears it
    accept_conn, // read only
    no_delay,
    ipx_ptype,
    ipx_maxsize, // read only
};

struct Linger {
    bool on = false;
    uint16_t seconds = 0;
};

struct MsgFlags {
    bool oob = false;
    bool peek = false;
    bool dont_route = false;
};

// What select polls for one socket and one set: a descriptor and its poll
// events, or "ready now" for states that need no waiting. fd -1 without
// ready_now means the socket can never become ready for that set.
struct PollTarget {
    int fd = -1;
    short events = 0;
    bool ready_now = false;
};

// WSAAsyncSelect events, the same bits as FD_READ ... FD_CLOSE.
enum AsyncEvent : uint32_t {
    async_read = 0x01,
    async_write = 0x02,
    async_oob = 0x04,
    async_accept = 0x08,
    async_connect = 0x10,
    async_close = 0x20,
};

struct AsyncNote {
    uint32_t event;
    int error; // WSA code, 0 for none
};

class Socket {
public:
    Socket(Family family, SockType type);
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    Family family() const { return m_family; }
    SockType type() const { return m_type; }

    // Blocking is emulated above descriptors that never block, so that a
    // blocked call can be woken by closesocket.
    bool nonblocking() const { return m_nonblocking.load(); }
    void set_nonblocking(bool on) { m_nonblocking.store(on); }

    virtual Status bind(const SockAddr& addr) = 0;
    virtual Status connect(const SockAddr& addr) = 0;
    virtual Status listen(int backlog) = 0;
    virtual Result<std::shared_ptr<Socket>> accept(SockAddr* peer) = 0;
    // to is null for send(); connection-oriented sockets ignore it.
    virtual Result<int> send_to(const char* buf, int len, MsgFlags flags, const SockAddr* to) = 0;
    // from, when not null, receives the sender of a datagram. A datagram
    // longer than len fills buf and fails with WSAEMSGSIZE.
    virtual Result<int> recv_from(char* buf, int len, MsgFlags flags, SockAddr* from) = 0;
    virtual Status shutdown(ShutdownHow how) = 0;
    virtual Result<SockAddr> local_name() = 0;
    virtual Result<SockAddr> peer_name() = 0;
    // FIONREAD: for datagram sockets, all pending datagrams together.
    virtual Result<uint32_t> bytes_readable() = 0;
    virtual Status set_option(Option opt, int value) = 0;
    virtual Result<int> get_option(Option opt) = 0;
    virtual Status set_linger(Linger l);
    virtual Result<Linger> get_linger();

    virtual PollTarget poll_target(SelectKind kind) = 0;
    // Whether the socket is ready for the set, given what its target's
    // descriptor reported.
    virtual bool is_ready(SelectKind kind, short revents) = 0;

    // WSAAsyncSelect: what to poll while `enabled` events are armed, and
    // which of them have happened given what the descriptor reported.
    virtual PollTarget async_target(uint32_t enabled) = 0;
    virtual std::vector<AsyncNote> async_check(uint32_t enabled, short revents) = 0;

    // closesocket, first step: may refuse (a non-blocking socket that must
    // linger). Nothing is changed when it refuses.
    virtual Status check_close() { return ok(); }
    // closesocket, second step: the socket has left the table. Wakes every
    // blocked call, which then fails with WSAEINTR, and lets the socket
    // release what it holds elsewhere (an IPX socket number, say). The
    // descriptor itself is closed with the last reference.
    void close();

    int cancel_fd() const { return m_cancel.fd(); }
    bool closed() const { return m_cancel.is_set(); }
    // False when the socket could not get its descriptors.
    bool valid() const { return m_cancel.valid(); }

protected:
    virtual void on_close() {}
    // Blocks on fd until it reports one of events or the socket is closed.
    WaitResult wait(int fd, short events, short* revents = nullptr);

private:
    const Family m_family;
    const SockType m_type;
    std::atomic<bool> m_nonblocking{false};
    EventFd m_cancel;
};

} // namespace kolm::platform::net
