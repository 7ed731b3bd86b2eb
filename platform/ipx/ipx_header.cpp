#include "ipx_header.h"

#include <cstring>

namespace kolm::platform::ipx {

namespace {

void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// network (4), node (6), socket (2)
void put_address(uint8_t* p, const Address& a)
{
    put32(p, a.network);
    std::memcpy(p + 4, a.node.data(), 6);
    put16(p + 10, a.socket);
}

Address get_address(const uint8_t* p)
{
    Address a;
    a.network = get32(p);
    std::memcpy(a.node.data(), p + 4, 6);
    a.socket = get16(p + 10);
    return a;
}

} // namespace

void encode_header(const Header& h, uint8_t* out)
{
    put16(out + 0, h.checksum);
    put16(out + 2, h.length);
    out[4] = h.transport_control;
    out[5] = h.packet_type;
    put_address(out + 6, h.dest);
    put_address(out + 18, h.src);
}

std::optional<Header> decode_header(const uint8_t* data, size_t size)
{
    if (size < kHeaderSize)
        return std::nullopt;
    Header h;
    h.checksum = get16(data + 0);
    h.length = get16(data + 2);
    h.transport_control = data[4];
    h.packet_type = data[5];
    h.dest = get_address(data + 6);
    h.src = get_address(data + 18);
    if (h.checksum != kNoChecksum || h.length < kHeaderSize || h.length > size || h.length > kMaxPacket)
        return std::nullopt;
    return h;
}

Node node_of(uint32_t ipv4_be, uint16_t port_be)
{
    Node n;
    std::memcpy(n.data(), &ipv4_be, 4);
    std::memcpy(n.data() + 4, &port_be, 2);
    return n;
}

void endpoint_of(const Node& node, uint32_t* ipv4_be, uint16_t* port_be)
{
    std::memcpy(ipv4_be, node.data(), 4);
    std::memcpy(port_be, node.data() + 4, 2);
}

} // namespace kolm::platform::ipx
