// devsim's TCP channels: echo, discard, refuse, or echo N bytes then close.
//
// Each connection has one output buffer; while it is over its limit the
// connection is not read (no byte is ever dropped), as a serial server
// stops its reader while the writer is behind.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "component.h"
#include "devsim_options.h"

namespace devsim {

class TcpChannels final : public Component {
public:
    ~TcpChannels() override;
    // Binds (and except for refuse, listens on) every channel; prints
    // "tcp ADDR:PORT MODE" for each.
    bool start(const Options& options, std::string* error);
    size_t collect(std::vector<pollfd>& fds) override;
    void dispatch(const pollfd* fds, size_t count) override;

private:
    struct Listener {
        int fd;
        TcpChannel channel;
    };
    struct Connection {
        int fd;
        TcpMode mode;
        uint64_t left;       // close_after: bytes still to take before closing
        std::string out;     // bytes to echo, not yet sent
        bool done_reading;   // peer closed, or the close_after count reached
        bool broken;         // an error: close at once
    };
    void accept_all(const Listener& l);
    void read_some(Connection& c);
    void write_some(Connection& c);

    std::vector<Listener> m_listeners;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<Listener*> m_polled_listeners;
    std::vector<Connection*> m_polled_connections;
};

} // namespace devsim
