// devsim's SPX channels: listeners at each advertised socket + 0x0800 on
// the platform's IPX station, with the modes of the TCP channels. Faults
// for tests are injected on that station.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "component.h"
#include "devsim_options.h"

namespace kolm::platform::net {
class Socket;
}
namespace kolm::platform::ipx {
class Station;
}

namespace devsim {

class SpxChannels final : public Component {
public:
    ~SpxChannels() override;
    // Starts the station and a listener per SAP name (whose sockets must
    // be set); prints "spx NET:NODE:SOCKET MODE" for each.
    bool start(const Options& options, std::string* error);
    std::shared_ptr<kolm::platform::ipx::Station> station() const { return m_station; }
    size_t collect(std::vector<pollfd>& fds) override;
    void dispatch(const pollfd* fds, size_t count) override;

private:
    using SocketPtr = std::shared_ptr<kolm::platform::net::Socket>;
    struct Connection {
        SocketPtr sock;
        uint64_t left;
        std::string out;
        bool done_reading = false;
        bool broken = false;
    };
    void read_some(Connection& c);
    void write_some(Connection& c);

    std::shared_ptr<kolm::platform::ipx::Station> m_station;
    TcpChannel m_mode;
    std::vector<SocketPtr> m_listeners;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<pollfd> m_last; // what was collected, to match in dispatch
};

} // namespace devsim
