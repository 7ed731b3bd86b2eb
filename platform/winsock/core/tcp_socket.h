// A Winsock TCP socket over a kernel TCP socket.
//
// The kernel descriptor is always non-blocking; a blocking Winsock call
// waits in poll together with the socket's cancel descriptor, so that
// closesocket from another thread ends the wait (WSAEINTR) instead of
// leaving the thread blocked on a descriptor nobody will ever close.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "socket.h"

namespace kolm::platform::net {

class TcpSocket final : public Socket {
public:
    // protocol: 0 or IPPROTO_TCP (6).
    static Result<std::shared_ptr<Socket>> create(int protocol);
    ~TcpSocket() override;

    Status bind(const SockAddr& addr) override;
    Status connect(const SockAddr& addr) override;
    Status listen(int backlog) override;
    Result<std::shared_ptr<Socket>> accept(SockAddr* peer) override;
    Result<int> send_to(const char* buf, int len, MsgFlags flags, const SockAddr* to) override;
    Result<int> recv_from(char* buf, int len, MsgFlags flags, SockAddr* from) override;
    Status shutdown(ShutdownHow how) override;
    Result<SockAddr> local_name() override;
    Result<SockAddr> peer_name() override;
    Result<uint32_t> bytes_readable() override;
    Status set_option(Option opt, int value) override;
    Result<int> get_option(Option opt) override;
    Status set_linger(Linger l) override;
    Result<Linger> get_linger() override;
    PollTarget poll_target(SelectKind kind) override;
    bool is_ready(SelectKind kind, short revents) override;
    PollTarget async_target(uint32_t enabled) override;
    std::vector<AsyncNote> async_check(uint32_t enabled, short revents) override;
    Status check_close() override;

    enum class State {
        fresh,          // neither bound nor connected
        bound,
        listening,
        connecting,     // non-blocking connect under way
        connected,
        connect_failed, // the last connect failed; m_connect_error says why
    };
    State state();

    TcpSocket(int fd, State state);

private:
    // Learns how a connect under way ended, from what poll reported.
    // Caller holds m_mutex.
    void settle_connect_locked(short revents);
    // Same, asking the kernel without waiting.
    void refresh_connect_locked();
    // Checks the state for a data transfer; caller holds m_mutex.
    Status check_transfer_locked(bool sending);

    // Bytes the last kernel read took beyond what its receive asked for.
    size_t rx_buffered();
    // A receive served from the kernel, or nothing with EAGAIN.
    Result<int> recv_now(char* buf, int len, MsgFlags flags);

    const int m_fd;
    // NOTE: a small receive reads up to kRxBuffer bytes from the kernel and
    // serves the next receives from them, so that a program taking a
    // stream a ring's piece at a time costs one kernel read per buffer,
    // not one or two per piece. Out-of-band data and receives of a whole
    // buffer or more go to the kernel directly, and so does everything once
    // FD_READ has been asked for (its notices come from the descriptor).
    static constexpr size_t kRxBuffer = 16 * 1024;
    std::mutex m_rx_lock;     // never held while waiting
    std::vector<char> m_rx;   // guarded by m_rx_lock; sized at first use
    size_t m_rx_pos = 0;      // guarded by m_rx_lock: m_rx[m_rx_pos, m_rx_end) not yet received
    size_t m_rx_end = 0;
    bool m_rx_direct = false; // guarded by m_rx_lock: FD_READ was asked for
    std::mutex m_mutex;
    State m_state;            // guarded by m_mutex
    int m_connect_error = 0;  // WSA code of the last failed connect, until SO_ERROR reads it
    bool m_send_shut = false; // shutdown(SD_SEND) done
    bool m_recv_shut = false; // shutdown(SD_RECEIVE) done
    // FD_CLOSE is due but unread data must be read first, and FD_READ is
    // not armed: nothing to watch until the program reads.
    bool m_close_waits_for_read = false;
    Linger m_linger;
};

} // namespace kolm::platform::net
