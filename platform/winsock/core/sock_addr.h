// Socket addresses and constants inside the sockets layer, free of both the
// Winsock and the POSIX declarations: the Winsock surface converts its
// records to these, the implementations convert these to the kernel's.
#pragma once

#include <array>
#include <cstdint>

namespace kolm::platform::net {

enum class Family { inet, ipx };
enum class SockType { stream, dgram, seqpacket };

// Winsock protocol numbers of the IPX family.
inline constexpr int kNsProtoIpx = 1000;
inline constexpr int kNsProtoSpx = 1256;
inline constexpr int kNsProtoSpxII = 1257;

struct InetAddr {
    uint32_t addr = 0; // network byte order, as in sin_addr
    uint16_t port = 0; // host byte order
};

struct IpxAddr {
    std::array<uint8_t, 4> net{};  // most significant byte first
    std::array<uint8_t, 6> node{}; // copied as-is
    uint16_t socket = 0;           // host byte order
};

struct SockAddr {
    Family family = Family::inet;
    InetAddr inet;
    IpxAddr ipx;

    static SockAddr of(InetAddr a)
    {
        SockAddr s;
        s.family = Family::inet;
        s.inet = a;
        return s;
    }
    static SockAddr of(IpxAddr a)
    {
        SockAddr s;
        s.family = Family::ipx;
        s.ipx = a;
        return s;
    }
};

} // namespace kolm::platform::net
