#include "spx_channels.h"

#include <cstdio>

#include "ipx/ipx_sockets.h"
#include "ipx/station.h"
#include "winsock/core/socket.h"

namespace devsim {

namespace net = kolm::platform::net;
namespace ipx = kolm::platform::ipx;

namespace {

// Echo output held per connection before reading stops, as for TCP.
constexpr size_t kOutLimit = 64 * 1024;

} // namespace

SpxChannels::~SpxChannels()
{
    for (auto& c : m_connections)
        c->sock->close();
    for (auto& l : m_listeners)
        l->close();
}

bool SpxChannels::start(const Options& options, std::string* error)
{
    auto station = ipx::Station::acquire();
    if (!station) {
        *error = "the IPX segment is not available";
        return false;
    }
    m_station = *station;
    m_mode = options.spx_mode;
    ipx::FaultPlan plan;
    plan.drop_percent = options.drop;
    plan.reorder_percent = options.reorder;
    plan.duplicate_percent = options.duplicate;
    plan.seed = options.seed;
    m_station->set_faults(plan);
    const char* mode_text = m_mode.mode == TcpMode::echo      ? "echo"
                            : m_mode.mode == TcpMode::discard ? "discard"
                            : m_mode.mode == TcpMode::refuse  ? "refuse"
                                                              : "close";
    for (const SapName& s : options.sap) {
        const uint16_t number = static_cast<uint16_t>(*s.socket + 0x0800);
        const auto& node = m_station->node();
        std::printf("spx %08X:%02X%02X%02X%02X%02X%02X:%04X %s\n", m_station->network(), node[0], node[1], node[2],
                    node[3], node[4], node[5], number, mode_text);
        // Refused: nobody listens, and SPX callers time out.
        if (m_mode.mode == TcpMode::refuse)
            continue;
        auto sock = ipx::create_socket(net::SockType::stream, net::kNsProtoSpx);
        if (!sock) {
            *error = "SPX socket: " + std::to_string(sock.error());
            return false;
        }
        net::IpxAddr a;
        a.socket = number;
        if (auto st = (*sock)->bind(net::SockAddr::of(a)); !st) {
            *error = "SPX bind " + std::to_string(number) + ": " + std::to_string(st.error());
            return false;
        }
        if (auto st = (*sock)->listen(8); !st) {
            *error = "SPX listen " + std::to_string(number) + ": " + std::to_string(st.error());
            return false;
        }
        (*sock)->set_nonblocking(true);
        m_listeners.push_back(*sock);
    }
    return true;
}

size_t SpxChannels::collect(std::vector<pollfd>& fds)
{
    const size_t before = fds.size();
    for (auto& l : m_listeners) {
        const auto t = l->poll_target(net::SelectKind::read);
        fds.push_back({t.fd, t.events, 0});
    }
    for (auto& c : m_connections) {
        // Readable while there is room to echo into; writable while behind.
        const auto r = c->sock->poll_target(net::SelectKind::read);
        const auto w = c->sock->poll_target(net::SelectKind::write);
        fds.push_back({!c->done_reading && c->out.size() < kOutLimit ? r.fd : -1, r.events, 0});
        fds.push_back({!c->out.empty() ? w.fd : -1, w.events, 0});
    }
    return fds.size() - before;
}

void SpxChannels::dispatch(const pollfd* fds, size_t count)
{
    size_t k = 0;
    const size_t listeners = m_listeners.size();
    const size_t conns = m_connections.size();
    if (count != listeners + 2 * conns)
        return;
    for (size_t i = 0; i < listeners; ++i, ++k) {
        if (!fds[k].revents)
            continue;
        for (;;) {
            auto accepted = m_listeners[i]->accept(nullptr);
            if (!accepted)
                break;
            (*accepted)->set_nonblocking(true);
            m_connections.push_back(std::make_unique<Connection>(Connection{*accepted, m_mode.close_after, {}, false, false}));
        }
    }
    for (size_t i = 0; i < conns; ++i, k += 2) {
        Connection& c = *m_connections[i];
        if (fds[k].revents)
            read_some(c);
        if (fds[k + 1].revents || !c.out.empty())
            write_some(c);
    }
    std::erase_if(m_connections, [](const std::unique_ptr<Connection>& c) {
        const bool finished = c->broken || (c->done_reading && c->out.empty());
        if (finished)
            c->sock->close(); // an orderly disconnect, finished in the background
        return finished;
    });
}

void SpxChannels::read_some(Connection& c)
{
    char buf[4096];
    for (;;) {
        size_t want = sizeof buf;
        if (m_mode.mode == TcpMode::close_after)
            want = static_cast<size_t>(std::min<uint64_t>(want, c.left));
        if (want == 0 || c.out.size() >= kOutLimit)
            break;
        auto r = c.sock->recv_from(buf, static_cast<int>(want), {}, nullptr);
        if (!r) {
            if (r.error() != 10035) // would block
                c.broken = true;
            break;
        }
        if (*r == 0) {
            c.done_reading = true;
            break;
        }
        if (m_mode.mode != TcpMode::discard)
            c.out.append(buf, static_cast<size_t>(*r));
        if (m_mode.mode == TcpMode::close_after)
            c.left -= static_cast<uint64_t>(*r);
    }
    if (m_mode.mode == TcpMode::close_after && c.left == 0)
        c.done_reading = true;
}

void SpxChannels::write_some(Connection& c)
{
    while (!c.out.empty()) {
        auto r = c.sock->send_to(c.out.data(), static_cast<int>(std::min<size_t>(c.out.size(), 1 << 16)), {},
                                 nullptr);
        if (!r) {
            if (r.error() != 10035)
                c.broken = true;
            return;
        }
        c.out.erase(0, static_cast<size_t>(*r));
    }
}

} // namespace devsim
