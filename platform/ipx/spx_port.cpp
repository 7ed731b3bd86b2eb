#include "spx_connection.h"

#include <algorithm>
#include <atomic>

#include "win32/wsaerror.h"

namespace kolm::platform::ipx {

namespace {

// Connection ids are drawn from one counter for the whole station, so
// that an id is not soon reused after its connection ended.
std::atomic<uint16_t> g_next_id{1};

} // namespace

SpxPort::SpxPort(std::shared_ptr<Station> station) : m_station(station.get()), m_station_ref(station) {}

SpxPort::~SpxPort()
{
    if (m_socket != 0)
        m_station->detach_expired(m_socket);
}

net::Status SpxPort::attach(uint16_t socket)
{
    auto bound = m_station->attach(socket, weak_from_this());
    if (!bound)
        return net::WsaError{bound.error()};
    m_socket = *bound;
    return net::ok();
}

uint16_t SpxPort::new_id_locked()
{
    for (;;) {
        const uint16_t id = g_next_id.fetch_add(1);
        if (id != 0 && id != kSpxUnknownId && !m_connections.contains(id))
            return id;
    }
}

void SpxPort::listen(int backlog)
{
    std::lock_guard lock(m_mutex);
    m_listening = true;
    m_backlog = static_cast<size_t>(std::clamp(backlog, 1, 64));
}

void SpxPort::stop_listening()
{
    std::deque<std::shared_ptr<SpxConnection>> unaccepted;
    {
        std::lock_guard lock(m_mutex);
        m_listening = false;
        unaccepted.swap(m_accept_queue);
        m_acceptable.clear();
    }
    for (auto& c : unaccepted)
        c->close_orderly();
}

std::shared_ptr<SpxConnection> SpxPort::take_accepted()
{
    std::lock_guard lock(m_mutex);
    if (m_accept_queue.empty())
        return nullptr;
    auto c = std::move(m_accept_queue.front());
    m_accept_queue.pop_front();
    m_acceptable.assign(!m_accept_queue.empty());
    return c;
}

net::Result<std::shared_ptr<SpxConnection>> SpxPort::open(const Address& remote, const SpxParams& params)
{
    // The socket opening the connection holds the station.
    auto station = m_station_ref.lock();
    if (!station)
        return net::WsaError{WSAENETDOWN};
    std::shared_ptr<SpxConnection> conn;
    {
        std::lock_guard lock(m_mutex);
        conn = std::make_shared<SpxConnection>(shared_from_this(), m_station, remote, new_id_locked(), params);
        if (!conn->valid())
            return net::WsaError{WSAEMFILE};
        m_connections[conn->local_id()] = conn;
    }
    SpxEngine::instance().add(conn, std::move(station));
    return conn;
}

void SpxPort::forget(uint16_t id)
{
    std::shared_ptr<SpxConnection> gone;
    std::lock_guard lock(m_mutex);
    auto it = m_connections.find(id);
    if (it != m_connections.end()) {
        gone = std::move(it->second);
        m_connections.erase(it);
    }
}

void SpxPort::deliver(const Header& header, const uint8_t* data, size_t len)
{
    if (header.packet_type != kSpxPacketType)
        return;
    const auto h = decode_spx(data, len);
    if (!h)
        return;
    if (h->is_connect_request()) {
        handle_request(header, *h);
        return;
    }
    std::shared_ptr<SpxConnection> conn;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_connections.find(h->dst_id);
        if (it != m_connections.end())
            conn = it->second;
    }
    // The id must belong to the station and socket that sent the packet.
    if (!conn || conn->remote().node != header.src.node || conn->remote().socket != header.src.socket)
        return;
    conn->deliver(*h, data + kSpxHeaderSize, len - kSpxHeaderSize);
}

void SpxPort::handle_request(const Header& header, const SpxHeader& h)
{
    std::shared_ptr<SpxConnection> conn;
    std::shared_ptr<Station> station;
    {
        std::lock_guard lock(m_mutex);
        // Only a listener answers; anyone else stays silent and the caller
        // times out, for SPX has no refusal.
        if (!m_listening)
            return;
        for (auto& [id, c] : m_connections)
            if (c->remote().node == header.src.node && c->remote().socket == header.src.socket
                && c->remote_id() == h.src_id) {
                c->repeat_accept_reply();
                return;
            }
        if (m_accept_queue.size() >= m_backlog)
            return;
        Address remote = header.src;
        conn = std::make_shared<SpxConnection>(shared_from_this(), m_station, remote, new_id_locked(),
                                               spx_params_from_env());
        if (!conn->valid())
            return;
        // We are on the station's receiver thread: a reference taken here
        // goes to the engine and is never let go here, where it might be
        // the last one. None to take: the station is stopping.
        station = m_station_ref.lock();
        if (!station)
            return;
        m_connections[conn->local_id()] = conn;
        conn->accept_request(h);
        m_accept_queue.push_back(conn);
        m_acceptable.set();
    }
    SpxEngine::instance().add(conn, std::move(station));
}

SpxEngine& SpxEngine::instance()
{
    // Lives as long as the process: connections may still be closing in
    // the background when everything else has gone.
    static SpxEngine* const engine = new SpxEngine;
    return *engine;
}

SpxEngine::SpxEngine() : m_thread([this] { run(); }) {}

void SpxEngine::add(std::shared_ptr<SpxConnection> conn, std::shared_ptr<Station> station)
{
    std::lock_guard lock(m_mutex);
    m_entries.push_back(Entry{std::move(station), std::move(conn)});
    ++m_kicks;
    m_cv.notify_one();
}

std::unique_lock<std::mutex> SpxEngine::pause()
{
    return std::unique_lock(m_pause_mutex);
}

void SpxEngine::kick(SpxClock::time_point when)
{
    std::lock_guard lock(m_mutex);
    ++m_kicks;
    if (when < m_wake_at)
        m_cv.notify_one();
}

void SpxEngine::run()
{
    uint64_t seen = 0;
    std::unique_lock lock(m_mutex);
    for (;;) {
        while (m_kicks == seen && SpxClock::now() < m_wake_at) {
            if (m_wake_at == SpxClock::time_point::max())
                m_cv.wait(lock);
            else
                m_cv.wait_until(lock, m_wake_at);
        }
        seen = m_kicks;
        lock.unlock();
        // Held while the entries are worked on and let go; see pause().
        std::lock_guard running(m_pause_mutex);
        lock.lock();
        std::vector<Entry> work = m_entries;
        lock.unlock();

        auto next = SpxClock::time_point::max();
        std::vector<SpxConnection*> gone;
        const auto now = SpxClock::now();
        for (Entry& e : work) {
            const auto due = e.conn->on_timer(now);
            if (!e.conn->disposable()) {
                next = std::min(next, due);
                continue;
            }
            // Finished and its socket gone: nothing will ever use it.
            e.conn->port().forget(e.conn->local_id());
            gone.push_back(e.conn.get());
        }

        lock.lock();
        std::erase_if(m_entries, [&](const Entry& e) {
            return std::find(gone.begin(), gone.end(), e.conn.get()) != gone.end();
        });
        m_wake_at = next;
        // The last references may go here; never under the engine's lock.
        lock.unlock();
        work.clear();
        lock.lock();
    }
}

} // namespace kolm::platform::ipx
