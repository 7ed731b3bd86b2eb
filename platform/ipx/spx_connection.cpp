#include "spx_connection.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "win32/wsaerror.h"

namespace kolm::platform::ipx {

SpxConnection::SpxConnection(std::shared_ptr<SpxPort> port, Station* station, const Address& remote,
                             uint16_t local_id, const SpxParams& params)
    : m_port(std::move(port)),
      m_station(station),
      m_remote(remote),
      m_local_id(local_id),
      m_params(params),
      m_next_seq(params.first_seq),
      m_snd_una(params.first_seq),
      m_next_tx(params.first_seq),
      // Until the peer says otherwise, nothing may be sent.
      m_remote_alloc(static_cast<uint16_t>(params.first_seq - 1)),
      m_rto(params.rto),
      m_expected(params.first_seq),
      m_advertised(static_cast<uint16_t>(params.first_seq + params.window - 1))
{
    const auto now = SpxClock::now();
    m_last_sent = m_last_received = m_last_watchdog = now;
}

bool SpxConnection::valid() const
{
    return m_readable.valid() && m_writable.valid() && m_settled.valid() && m_done.valid();
}

uint16_t SpxConnection::remote_id()
{
    std::lock_guard lock(m_mutex);
    return m_remote_id;
}

uint16_t SpxConnection::alloc_locked() const
{
    // Every packet not yet read whole holds one receive slot.
    const size_t held = m_chunks.size();
    const size_t free_slots = held >= m_params.window ? 0 : m_params.window - held;
    return static_cast<uint16_t>(m_expected + free_slots - 1);
}

void SpxConnection::send_locked(uint8_t control, uint8_t datastream, uint16_t seq, const uint8_t* data, size_t len)
{
    uint8_t packet[kSpxHeaderSize + kSpxMaxData];
    SpxHeader h;
    h.control = control;
    h.datastream = datastream;
    h.src_id = m_local_id;
    h.dst_id = m_remote_id;
    h.seq = seq;
    h.ack = m_expected;
    h.alloc = alloc_locked();
    m_advertised = h.alloc;
    encode_spx(h, packet);
    if (len > 0)
        std::memcpy(packet + kSpxHeaderSize, data, len);
    // A failed send is a lost packet: the timers recover from both alike.
    (void)m_station->send(kSpxPacketType, m_port->socket(), m_remote, packet, kSpxHeaderSize + len);
    m_last_sent = SpxClock::now();
}

void SpxConnection::send_system_locked(uint8_t control)
{
    send_locked(control, 0, m_next_tx, nullptr, 0);
}

void SpxConnection::transmit_locked(const OutPacket& p)
{
    send_locked(p.control, p.datastream, p.seq, p.data.data(), p.data.size());
}

void SpxConnection::kick_locked()
{
    SpxEngine::instance().kick(SpxClock::now());
}

void SpxConnection::pump_locked()
{
    if (m_phase == Phase::connecting || m_phase == Phase::finished)
        return;
    bool sent = false;
    while (seq_not_after(m_next_tx, m_remote_alloc)) {
        const size_t index = static_cast<uint16_t>(m_next_tx - m_snd_una);
        if (index >= m_queue.size())
            break;
        transmit_locked(m_queue[index]);
        ++m_next_tx;
        sent = true;
    }
    if (sent && !m_rto_deadline) {
        m_rto_deadline = SpxClock::now() + m_rto;
        kick_locked();
    }
}

void SpxConnection::start_connect()
{
    std::lock_guard lock(m_mutex);
    m_initiator = true;
    m_phase = Phase::connecting;
    // The request carries our first sequence number and window edge; the
    // peer's id is not known yet.
    m_connect_attempts = 1;
    m_connect_next = SpxClock::now() + m_params.connect_interval;
    send_locked(kSpxSys | kSpxAckReq, 0, m_params.first_seq, nullptr, 0);
    update_levels_locked();
    kick_locked();
}

void SpxConnection::accept_request(const SpxHeader& request)
{
    std::lock_guard lock(m_mutex);
    m_remote_id = request.src_id;
    m_expected = request.seq;
    m_remote_alloc = request.alloc;
    m_phase = Phase::established;
    m_last_received = SpxClock::now();
    send_system_locked(kSpxSys);
    update_levels_locked();
    kick_locked();
}

void SpxConnection::repeat_accept_reply()
{
    std::lock_guard lock(m_mutex);
    if (m_phase != Phase::finished)
        send_system_locked(kSpxSys);
}

void SpxConnection::deliver(const SpxHeader& h, const uint8_t* data, size_t len)
{
    std::lock_guard lock(m_mutex);
    if (m_phase == Phase::finished)
        return;
    const auto now = SpxClock::now();
    if (m_phase == Phase::connecting) {
        // The listener's answer: a system packet naming our id.
        if (!h.is_system())
            return;
        m_remote_id = h.src_id;
        m_expected = h.seq;
        m_advertised = alloc_locked();
        m_remote_alloc = h.alloc;
        m_phase = Phase::established;
        m_last_received = m_last_watchdog = now;
        pump_locked();
        update_levels_locked();
        kick_locked();
        return;
    }
    if (h.src_id != m_remote_id)
        return;
    m_last_received = now;

    if (!h.is_system() && h.datastream == kSpxEndOfConnection && !h.wants_ack()) {
        // The peer's socket was reset: it is gone and will answer nothing.
        fail_locked(WSAECONNRESET);
        return;
    }
    if (!h.is_system() && h.datastream == kSpxEndAck) {
        // The answer to our end-of-connection; its numbers vary between
        // stacks, so only our having sent one matters.
        if (m_end_queued) {
            finish_locked();
            return;
        }
        take_ack_locked(h);
        update_levels_locked();
        return;
    }
    take_ack_locked(h);
    if (h.is_system()) {
        if (h.wants_ack())
            send_system_locked(kSpxSys); // a watchdog asks whether we are alive
    } else {
        take_data_locked(h, data, len);
    }
    update_levels_locked();
}

void SpxConnection::take_ack_locked(const SpxHeader& h)
{
    const auto now = SpxClock::now();
    if (seq_before(m_snd_una, h.ack) && seq_not_after(h.ack, m_next_tx)) {
        while (m_snd_una != h.ack && !m_queue.empty()) {
            m_queue.pop_front();
            ++m_snd_una;
        }
        m_retries = 0;
        m_dup_acks = 0;
        m_rto = m_params.rto;
        if (in_flight_locked() || !m_queue.empty())
            m_rto_deadline = now + m_rto;
        else
            m_rto_deadline.reset();
        if (m_end_queued && seq_before(m_end_seq, m_snd_una)) {
            // Our end-of-connection is acknowledged: nothing is left to do.
            finish_locked();
            return;
        }
    } else if (h.ack == m_snd_una && in_flight_locked() && h.is_system()) {
        // The peer keeps asking for the same packet while later ones
        // arrive: resend it without waiting for the time-out.
        // Every few repeats again, in case the resent packet was lost too.
        if (++m_dup_acks % 4 == 2) {
            transmit_locked(m_queue.front());
            ++m_retransmissions;
        }
    }
    // Allocations only grow at a sound peer; an old one overtaken by a
    // newer packet must not shrink the window back.
    if (seq_before(m_remote_alloc, h.alloc))
        m_remote_alloc = h.alloc;
    pump_locked();
}

void SpxConnection::take_data_locked(const SpxHeader& h, const uint8_t* data, size_t len)
{
    if (m_peer_closed) {
        // The peer repeats its end-of-connection: our answer was lost.
        if (h.datastream == kSpxEndOfConnection)
            send_locked(0, kSpxEndAck, m_next_tx, nullptr, 0);
        return;
    }
    const uint16_t seq = h.seq;
    // Duplicates (before our acknowledge number) and packets beyond the
    // allocation we gave are dropped; the answer tells the peer where we are.
    if (!seq_before(seq, m_expected) && seq_not_after(seq, m_advertised) && !m_early.contains(seq)) {
        m_early.emplace(seq, std::vector<uint8_t>(data, data + len));
        m_early_types.emplace(seq, h.datastream);
    }
    // Looked up by number: the map's order is not the sequence's across the wrap.
    while (m_early.contains(m_expected)) {
        auto node = m_early.extract(m_expected);
        const uint8_t type = m_early_types[m_expected];
        m_early_types.erase(m_expected);
        ++m_expected;
        if (type == kSpxEndOfConnection) {
            m_peer_closed = true;
            m_early.clear();
            m_early_types.clear();
            m_queue.clear();
            m_snd_una = m_next_tx;
            m_rto_deadline.reset();
            send_locked(0, kSpxEndAck, m_next_tx, nullptr, 0);
            if (m_socket_gone)
                m_linger_until = SpxClock::now() + m_params.listen;
            kick_locked();
            return;
        }
        if (!node.mapped().empty() && !m_socket_gone) {
            m_rcv_bytes += node.mapped().size();
            m_chunks.push_back(std::move(node.mapped()));
        }
    }
    if (h.wants_ack())
        send_system_locked(kSpxSys);
}

void SpxConnection::fail_locked(int error)
{
    m_error = error;
    if (m_phase == Phase::connecting) {
        m_so_error = error;
        m_connect_failed = true;
    }
    finish_locked();
}

void SpxConnection::finish_locked()
{
    m_phase = Phase::finished;
    m_queue.clear();
    m_snd_una = m_next_tx;
    m_rto_deadline.reset();
    m_linger_until.reset();
    m_early.clear();
    m_early_types.clear();
    update_levels_locked();
    kick_locked();
}

void SpxConnection::update_levels_locked()
{
    const bool dead = (m_error != 0 || m_phase == Phase::finished) && !m_connect_failed;
    const bool open_for_data = m_phase == Phase::established && !m_end_queued && !m_peer_closed && !m_send_shut;
    m_readable.assign(m_rcv_bytes > 0 || m_peer_closed || dead);
    m_writable.assign((open_for_data && m_queue.size() < send_capacity()) || dead || m_peer_closed);
    m_settled.assign(m_phase != Phase::connecting);
    m_done.assign(m_phase == Phase::finished);
}

SpxClock::time_point SpxConnection::on_timer(SpxClock::time_point now)
{
    constexpr auto never = SpxClock::time_point::max();
    std::lock_guard lock(m_mutex);
    if (m_phase == Phase::finished)
        return never;
    if (m_phase == Phase::connecting) {
        if (now >= m_connect_next) {
            if (m_connect_attempts >= m_params.connect_retries) {
                // Nobody listens there: SPX has no refusal, only silence.
                fail_locked(WSAETIMEDOUT);
                return never;
            }
            ++m_connect_attempts;
            send_locked(kSpxSys | kSpxAckReq, 0, m_params.first_seq, nullptr, 0);
            m_connect_next = now + m_params.connect_interval;
        }
        return m_connect_next;
    }
    if (m_peer_closed) {
        if (m_linger_until && now >= *m_linger_until) {
            finish_locked();
            return never;
        }
        return m_linger_until.value_or(never);
    }
    if (m_rto_deadline && now >= *m_rto_deadline) {
        if (in_flight_locked()) {
            if (++m_retries > m_params.retries) {
                if (m_socket_gone)
                    finish_locked();
                else
                    fail_locked(WSAECONNABORTED);
                return never;
            }
            for (uint16_t s = m_snd_una; s != m_next_tx; ++s) {
                transmit_locked(m_queue[static_cast<uint16_t>(s - m_snd_una)]);
                ++m_retransmissions;
            }
            m_rto = std::min(m_rto * 2, m_params.rto_max);
            m_rto_deadline = now + m_rto;
        } else if (!m_queue.empty()) {
            // The peer's window is shut: ask it for its allocation, in case
            // the packet that opened it was lost.
            send_system_locked(kSpxSys | kSpxAckReq);
            m_rto_deadline = now + m_rto;
        } else {
            m_rto_deadline.reset();
        }
    }
    if (now - m_last_received >= m_params.abort) {
        // The peer has been silent through every watchdog request.
        if (m_socket_gone)
            finish_locked();
        else
            fail_locked(WSAECONNABORTED);
        return never;
    }
    if (now - std::max(m_last_received, m_last_watchdog) >= m_params.listen) {
        send_system_locked(kSpxSys | kSpxAckReq);
        m_last_watchdog = now;
    }
    if (now - m_last_sent >= m_params.verify)
        send_system_locked(kSpxSys);
    auto next = std::min({m_last_received + m_params.abort,
                          std::max(m_last_received, m_last_watchdog) + m_params.listen,
                          m_last_sent + m_params.verify});
    if (m_rto_deadline)
        next = std::min(next, *m_rto_deadline);
    return next;
}

bool SpxConnection::disposable()
{
    std::lock_guard lock(m_mutex);
    return m_phase == Phase::finished && m_socket_gone;
}

net::Result<int> SpxConnection::try_send(const char* buf, int len)
{
    std::lock_guard lock(m_mutex);
    if (m_error)
        return net::WsaError{m_error};
    if (m_peer_closed)
        return net::WsaError{WSAECONNRESET};
    if (m_send_shut || m_end_queued)
        return net::WsaError{WSAESHUTDOWN};
    if (m_phase != Phase::established)
        return net::WsaError{WSAENOTCONN};
    if (len <= 0)
        return 0;
    int taken = 0;
    while (taken < len && m_queue.size() < send_capacity()) {
        const size_t chunk = std::min(kSpxMaxData, static_cast<size_t>(len - taken));
        // Each send ends a message: the last packet of it carries EOM.
        const bool last = taken + static_cast<int>(chunk) == len;
        const auto* from = reinterpret_cast<const uint8_t*>(buf + taken);
        m_queue.push_back(OutPacket{m_next_seq++, static_cast<uint8_t>(kSpxAckReq | (last ? kSpxEom : 0)), 0,
                                    std::vector<uint8_t>(from, from + chunk)});
        taken += static_cast<int>(chunk);
    }
    if (taken == 0)
        return net::WsaError{WSAEWOULDBLOCK};
    pump_locked();
    if (!m_rto_deadline) {
        // Queued behind a shut window: probe it when the time-out comes.
        m_rto_deadline = SpxClock::now() + m_rto;
        kick_locked();
    }
    update_levels_locked();
    return taken;
}

net::Result<int> SpxConnection::try_recv(char* buf, int len, bool peek)
{
    std::lock_guard lock(m_mutex);
    if (m_rcv_bytes == 0) {
        if (m_peer_closed || (m_phase == Phase::finished && m_error == 0 && !m_connect_failed))
            return 0;
        if (m_error)
            return net::WsaError{m_error};
        if (m_phase == Phase::connecting)
            return net::WsaError{WSAENOTCONN};
        return net::WsaError{WSAEWOULDBLOCK};
    }
    size_t copied = 0;
    size_t offset = m_chunk_offset;
    for (size_t i = 0; i < m_chunks.size() && copied < static_cast<size_t>(len); ++i) {
        const auto& c = m_chunks[i];
        const size_t n = std::min(c.size() - offset, static_cast<size_t>(len) - copied);
        std::memcpy(buf + copied, c.data() + offset, n);
        copied += n;
        offset = 0;
    }
    if (!peek) {
        size_t left = copied;
        while (left > 0) {
            const size_t avail = m_chunks.front().size() - m_chunk_offset;
            if (left >= avail) {
                left -= avail;
                m_chunks.pop_front();
                m_chunk_offset = 0;
            } else {
                m_chunk_offset += left;
                left = 0;
            }
        }
        m_rcv_bytes -= copied;
        // Tell the peer about room it may be waiting for; small openings
        // wait until they add up, so a slow reader does not cost a packet
        // per read.
        const uint16_t grown = static_cast<uint16_t>(alloc_locked() - m_advertised);
        const uint16_t was_open = static_cast<uint16_t>(m_advertised + 1 - m_expected);
        if (m_phase != Phase::finished && !m_peer_closed && grown > 0
            && (was_open == 0 || grown >= std::max<uint16_t>(1, m_params.window / 2)))
            send_system_locked(kSpxSys);
        update_levels_locked();
    }
    return static_cast<int>(copied);
}

uint32_t SpxConnection::bytes_readable()
{
    std::lock_guard lock(m_mutex);
    return static_cast<uint32_t>(m_rcv_bytes);
}

bool SpxConnection::connecting()
{
    std::lock_guard lock(m_mutex);
    return m_phase == Phase::connecting;
}

bool SpxConnection::connect_failed()
{
    std::lock_guard lock(m_mutex);
    return m_connect_failed;
}

int SpxConnection::take_error()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_so_error, 0);
}

int SpxConnection::error()
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void SpxConnection::shutdown_send()
{
    std::lock_guard lock(m_mutex);
    m_send_shut = true;
    if ((m_phase != Phase::established && m_phase != Phase::closing) || m_end_queued || m_peer_closed)
        return;
    m_end_queued = true;
    m_end_seq = m_next_seq;
    m_queue.push_back(OutPacket{m_next_seq++, kSpxAckReq, kSpxEndOfConnection, {}});
    pump_locked();
    if (!m_rto_deadline)
        m_rto_deadline = SpxClock::now() + m_rto;
    update_levels_locked();
    kick_locked();
}

void SpxConnection::close_orderly()
{
    {
        std::lock_guard lock(m_mutex);
        m_socket_gone = true;
        m_chunks.clear();
        m_chunk_offset = 0;
        m_rcv_bytes = 0;
        if (m_phase == Phase::connecting) {
            finish_locked();
            return;
        }
        if (m_phase == Phase::finished)
            return;
        if (m_peer_closed) {
            // Stay a little to answer the peer's end-of-connection again.
            m_linger_until = SpxClock::now() + m_params.listen;
            kick_locked();
            return;
        }
        m_phase = Phase::closing;
    }
    shutdown_send();
}

void SpxConnection::abort()
{
    std::lock_guard lock(m_mutex);
    m_socket_gone = true;
    if (m_phase == Phase::established || m_phase == Phase::closing) {
        if (!m_peer_closed) {
            // An end-of-connection that asks for no answer: the peer learns
            // at once that we are gone instead of after its time-outs.
            send_locked(0, kSpxEndOfConnection, m_next_tx, nullptr, 0);
        }
    }
    m_chunks.clear();
    m_rcv_bytes = 0;
    finish_locked();
}

SpxConnection::Snapshot SpxConnection::snapshot()
{
    std::lock_guard lock(m_mutex);
    return Snapshot{m_remote_alloc, m_next_tx, m_snd_una, m_expected, alloc_locked(), m_retransmissions};
}

} // namespace kolm::platform::ipx
