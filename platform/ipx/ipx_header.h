// The IPX packet header as it travels on the segment: 30 bytes, every
// number big-endian, one whole packet per UDP datagram.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kolm::platform::ipx {

inline constexpr size_t kHeaderSize = 30;
inline constexpr size_t kMaxPacket = 576;
inline constexpr size_t kMaxData = kMaxPacket - kHeaderSize; // 546
inline constexpr uint16_t kNoChecksum = 0xFFFF;

using Node = std::array<uint8_t, 6>;
inline constexpr Node kBroadcastNode{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

struct Address {
    uint32_t network = 0;
    Node node{};
    uint16_t socket = 0;

    bool operator==(const Address&) const = default;
};

struct Header {
    uint16_t checksum = kNoChecksum;
    uint16_t length = kHeaderSize; // header and data
    uint8_t transport_control = 0; // hops; always 0 on one segment
    uint8_t packet_type = 0;
    Address dest;
    Address src;
};

// Writes exactly kHeaderSize bytes.
void encode_header(const Header& h, uint8_t* out);

// Reads the header of a received datagram of `size` bytes and applies the
// checks every station makes: checksum 0xFFFF, length at least the header,
// at most the datagram and at most kMaxPacket. Bytes past `length` are
// padding and are to be ignored.
std::optional<Header> decode_header(const uint8_t* data, size_t size);

// A station's node is the IPv4 address and UDP port of its unicast socket;
// both in network byte order here, as the node holds them.
Node node_of(uint32_t ipv4_be, uint16_t port_be);
void endpoint_of(const Node& node, uint32_t* ipv4_be, uint16_t* port_be);

} // namespace kolm::platform::ipx
