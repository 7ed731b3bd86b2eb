// A bare UDP socket on the segment's interface that sends and receives IPX
// packets as raw bytes: an independent peer for checking the wire format.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kolm::test {

using NodeBytes = std::array<uint8_t, 6>;

class RawStation {
public:
    RawStation();
    ~RawStation();
    RawStation(const RawStation&) = delete;
    RawStation& operator=(const RawStation&) = delete;

    // IPv4 address and UDP port, as a node.
    NodeBytes node() const { return m_node; }
    bool send_to_node(const NodeBytes& node, const std::vector<uint8_t>& packet);
    // One datagram, or nothing within timeout_ms.
    std::optional<std::vector<uint8_t>> receive(int timeout_ms);

private:
    int m_fd = -1;
    NodeBytes m_node{};
};

// A multicast group and port of this test process only ("239.255.X.Y:PORT"),
// so parallel test runs never hear each other.
std::string private_group();

} // namespace kolm::test
