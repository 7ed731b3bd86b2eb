// devsim's SAP responder: a station of its own on the IPX segment that
// answers service queries at socket 0x0452.
//
// It speaks the segment's wire format through its own small code, not the
// platform layer's, so that tests of the layer meet an independent peer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "component.h"
#include "devsim_options.h"

namespace kolm::platform::ipx {
class Station;
}

namespace devsim {

class StationLink;

class SapResponder final : public Component {
public:
    ~SapResponder() override;
    // Joins the segment and prints "sap NAME NET:NODE:SOCKET" per server.
    // With a station, answers on that station's node instead of one of
    // its own, so that the SPX channels there share the advertised node.
    bool start(const Options& options, std::string* error,
               std::shared_ptr<kolm::platform::ipx::Station> station = nullptr);
    size_t collect(std::vector<pollfd>& fds) override;
    void dispatch(const pollfd* fds, size_t count) override;

private:
    using Node = std::array<uint8_t, 6>;
    struct Entry {
        uint16_t type;
        std::string name;
        uint32_t network;
        Node node;
        uint16_t socket;
    };
    struct Query {
        uint32_t src_network;
        Node src_node;
        uint16_t src_socket;
        bool broadcast;
        uint16_t operation;
        uint16_t server_type;
    };

    void drain(int fd, bool from_group);
    void handle(const uint8_t* buf, size_t n, bool from_group);
    void add_entries(const Options& options);
    void answer(const Query& q);
    void send_packet(const Query& q, uint16_t response, const std::vector<const Entry*>& entries);
    void advertise();

    std::shared_ptr<StationLink> m_link;
    int m_unicast = -1;
    int m_group = -1;
    uint32_t m_network = 0;
    Node m_node{};
    uint32_t m_group_addr = 0; // network byte order
    uint16_t m_group_port = 0; // host byte order
    std::vector<Entry> m_entries;
    unsigned m_split = 7;
    bool m_silent = false;
    bool m_bcast_only = false;
    int m_advert_timer = -1; // timerfd of --sap-every; -1 without
};

} // namespace devsim
