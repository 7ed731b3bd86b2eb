// SPX connections: one end of a sequenced, acknowledged byte stream on the
// IPX segment.
//
// A connection lives in three places: the socket that uses it, the port
// (the IPX socket number it shares with its listener, if any) that hands it
// its packets on the station's receiver thread, and the timer engine that
// drives its retransmissions, watchdog and connect requests. It outlives
// its socket while an orderly disconnect finishes in the background.
//
// Every call is non-blocking; the socket waits on the connection's event
// descriptors (levels: readable, writable, settled, done).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "ipx_header.h"
#include "spx_params.h"
#include "spx_wire.h"
#include "station.h"
#include "winsock/core/event_fd.h"
#include "winsock/core/net_result.h"

namespace kolm::platform::ipx {

using SpxClock = std::chrono::steady_clock;

class SpxPort;

class SpxConnection : public std::enable_shared_from_this<SpxConnection> {
public:
    enum class Phase {
        connecting,  // connect requests going out
        established,
        closing,     // our end-of-connection is queued; the socket is gone
        finished,    // nothing more on the wire
    };

    SpxConnection(std::shared_ptr<SpxPort> port, Station* station, const Address& remote, uint16_t local_id,
                  const SpxParams& params);

    bool valid() const;
    uint16_t local_id() const { return m_local_id; }
    SpxPort& port() const { return *m_port; }
    const Address& remote() const { return m_remote; }
    uint16_t remote_id();

    // The initiator's side: sends the first connect request.
    void start_connect();
    // The listener's side: takes the peer's connect request and answers it.
    void accept_request(const SpxHeader& request);
    // The same request again: the answer was lost; answer once more.
    void repeat_accept_reply();

    // A packet for this connection, on the receiver thread.
    void deliver(const SpxHeader& h, const uint8_t* data, size_t len);
    // Runs what is due; returns when to be called next. Timer engine only.
    SpxClock::time_point on_timer(SpxClock::time_point now);
    // Finished and no longer used by a socket: may be forgotten.
    bool disposable();

    // Queues bytes; how many were taken (0 only for len 0), or
    // WSAEWOULDBLOCK when the send queue is full, or the connection's error.
    net::Result<int> try_send(const char* buf, int len);
    // Bytes in order, across packets; 0 at the end of the stream.
    net::Result<int> try_recv(char* buf, int len, bool peek);
    uint32_t bytes_readable();
    // The outcome of a connect: 0 while under way or done, else its error.
    bool connecting();
    bool connect_failed();
    // SO_ERROR: the error of a failed connect, read once.
    int take_error();
    int error();

    // The socket lets go: an orderly disconnect in the background, or an
    // abort that tells the peer at once and frees everything.
    void close_orderly();
    void abort();
    // shutdown(SD_SEND): the disconnect starts, the socket keeps reading.
    void shutdown_send();

    int readable_fd() const { return m_readable.fd(); }
    int writable_fd() const { return m_writable.fd(); }
    int settled_fd() const { return m_settled.fd(); }
    int done_fd() const { return m_done.fd(); }
    bool is_readable() const { return m_readable.is_set(); }
    bool is_writable() const { return m_writable.is_set(); }
    bool is_done() const { return m_done.is_set(); }

    // The highest sequence number the peer allowed, and the next one we
    // would send; for tests of the window.
    struct Snapshot {
        uint16_t remote_alloc, next_to_send, oldest_unacked, expected, alloc;
        size_t retransmissions;
    };
    Snapshot snapshot();

private:
    struct OutPacket {
        uint16_t seq;
        uint8_t control;
        uint8_t datastream;
        std::vector<uint8_t> data;
    };

    void send_locked(uint8_t control, uint8_t datastream, uint16_t seq, const uint8_t* data, size_t len);
    void send_system_locked(uint8_t control);
    void transmit_locked(const OutPacket& p);
    void pump_locked();
    void take_ack_locked(const SpxHeader& h);
    void take_data_locked(const SpxHeader& h, const uint8_t* data, size_t len);
    void fail_locked(int error);
    void finish_locked();
    void update_levels_locked();
    uint16_t alloc_locked() const;
    bool in_flight_locked() const { return m_snd_una != m_next_tx; }
    size_t send_capacity() const { return 2u * m_params.window; }
    void kick_locked();

    const std::shared_ptr<SpxPort> m_port;
    Station* const m_station;
    const Address m_remote;
    const uint16_t m_local_id;
    const SpxParams m_params;

    std::mutex m_mutex;
    Phase m_phase = Phase::connecting;     // guarded by m_mutex
    bool m_initiator = false;              // guarded by m_mutex
    uint16_t m_remote_id = kSpxUnknownId;  // guarded by m_mutex
    int m_error = 0;                       // guarded by m_mutex; sticky: the connection is dead
    int m_so_error = 0;                    // guarded by m_mutex; a failed connect, until read
    bool m_connect_failed = false;         // guarded by m_mutex
    bool m_socket_gone = false;            // guarded by m_mutex
    bool m_send_shut = false;              // guarded by m_mutex
    bool m_peer_closed = false;            // guarded by m_mutex; the peer's end-of-connection taken
    bool m_end_queued = false;             // guarded by m_mutex
    uint16_t m_end_seq = 0;                // guarded by m_mutex

    // Sending (guarded by m_mutex).
    std::deque<OutPacket> m_queue;  // from the oldest unacknowledged on
    uint16_t m_next_seq;            // for the next packet queued
    uint16_t m_snd_una;             // the peer's acknowledge number
    uint16_t m_next_tx;             // the first never sent
    uint16_t m_remote_alloc;
    unsigned m_retries = 0;
    unsigned m_dup_acks = 0;
    size_t m_retransmissions = 0;
    std::chrono::milliseconds m_rto;
    std::optional<SpxClock::time_point> m_rto_deadline;

    // Receiving (guarded by m_mutex).
    uint16_t m_expected;                       // our acknowledge number
    uint16_t m_advertised;                     // the allocation last sent
    std::map<uint16_t, std::vector<uint8_t>> m_early; // arrived ahead of a gap, by sequence number
    std::map<uint16_t, uint8_t> m_early_types;
    std::deque<std::vector<uint8_t>> m_chunks; // in order, not yet read
    size_t m_chunk_offset = 0;
    size_t m_rcv_bytes = 0;

    // Timers (guarded by m_mutex).
    unsigned m_connect_attempts = 0;
    SpxClock::time_point m_connect_next{};
    SpxClock::time_point m_last_sent{};
    SpxClock::time_point m_last_received{};
    SpxClock::time_point m_last_watchdog{};
    std::optional<SpxClock::time_point> m_linger_until;

    net::EventFd m_readable; // data, the end of the stream, or an error
    net::EventFd m_writable; // room in the send queue, or an error
    net::EventFd m_settled;  // the connect is over, either way
    net::EventFd m_done;     // finished on the wire
};

// One IPX socket number carrying SPX: a listener's, shared by the
// connections it accepted, or a connecting socket's own.
class SpxPort final : public PacketSink, public std::enable_shared_from_this<SpxPort> {
public:
    SpxPort(std::shared_ptr<Station> station);
    ~SpxPort() override;

    bool valid() const { return m_acceptable.valid(); }
    net::Status attach(uint16_t socket);
    uint16_t socket() const { return m_socket; }
    Station* station() const { return m_station; }

    void listen(int backlog);
    // Stops listening; the connections nobody accepted are closed.
    void stop_listening();
    std::shared_ptr<SpxConnection> take_accepted();
    int acceptable_fd() const { return m_acceptable.fd(); }
    bool is_acceptable() const { return m_acceptable.is_set(); }

    // A new outgoing connection from this port.
    net::Result<std::shared_ptr<SpxConnection>> open(const Address& remote, const SpxParams& params);
    void forget(uint16_t id);

    void deliver(const Header& header, const uint8_t* data, size_t len) override;

private:
    // A connection id not in use here; caller holds m_mutex.
    uint16_t new_id_locked();
    void handle_request(const Header& header, const SpxHeader& h);

    // Not owned: whoever holds the port (its socket, or the engine through
    // one of its connections) holds the station. The port must not, for its
    // last reference may go on the station's receiver thread, which cannot
    // stop itself.
    Station* const m_station;
    const std::weak_ptr<Station> m_station_ref;
    uint16_t m_socket = 0;

    std::mutex m_mutex;
    std::map<uint16_t, std::shared_ptr<SpxConnection>> m_connections; // guarded by m_mutex
    bool m_listening = false;                                          // guarded by m_mutex
    size_t m_backlog = 0;                                              // guarded by m_mutex
    std::deque<std::shared_ptr<SpxConnection>> m_accept_queue;         // guarded by m_mutex
    net::EventFd m_acceptable;
};

// The one thread that runs every connection's timers.
class SpxEngine {
public:
    static SpxEngine& instance();
    // Runs the connection's timers until it is disposable. The station is
    // kept alive from this call on, and let go on the engine's own thread:
    // the connection and its port use the station through a plain pointer,
    // so it must outlive them, including while the engine has yet to look
    // at the new entry.
    void add(std::shared_ptr<SpxConnection> conn, std::shared_ptr<Station> station);
    // Something may be due sooner than the engine planned.
    void kick(SpxClock::time_point when);
    // For tests: while the returned lock is held, the engine runs no timers
    // and lets go of nothing; connections are still added and kicked.
    std::unique_lock<std::mutex> pause();

private:
    SpxEngine();
    void run();

    struct Entry {
        std::shared_ptr<Station> station; // declared before conn: let go after it
        std::shared_ptr<SpxConnection> conn;
    };

    std::mutex m_pause_mutex; // taken before m_mutex, never while holding it
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Entry> m_entries;                      // guarded by m_mutex
    SpxClock::time_point m_wake_at = SpxClock::time_point::max(); // guarded by m_mutex
    uint64_t m_kicks = 0;                              // guarded by m_mutex
    std::thread m_thread;
};

} // namespace kolm::platform::ipx
