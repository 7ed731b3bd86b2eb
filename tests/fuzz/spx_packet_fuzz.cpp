// SPX packets from the segment, handed to a port with a connection in each
// state: connecting, established (as the initiator and as the listener),
// closing, and finished.
//
// Input: a state byte, then packets, each a length byte and that many bytes:
// a flags byte and the SPX packet itself (its 12-byte header and data).
// Flag 1 puts the connection's own id in the packet's destination, flag 2
// the peer's id in its source, so the packets reach the connection rather
// than only its port; flag 4 sends it as another packet type than SPX.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "ipx/spx_connection.h"
#include "machine_env.h"

namespace {

using namespace kolm::platform::ipx;

constexpr uint16_t kPeerId = 0x4242;
constexpr uint16_t kPeerSocket = 0x7777; // nothing is bound there: answers go nowhere

std::shared_ptr<Station> station()
{
    static std::shared_ptr<Station> s = [] {
        kolm::test::use_private_ipx_segment();
        // Short timers: a closing connection lingers until its peer answers
        // or the abort time passes, and thousands are made every second.
        ::setenv("KOLM_SPX_ABORT_MS", "100", 1);
        ::setenv("KOLM_SPX_VERIFY_MS", "50", 1);
        ::setenv("KOLM_SPX_RTO_MS", "20", 1);
        ::setenv("KOLM_SPX_RTO_MAX_MS", "40", 1);
        ::setenv("KOLM_SPX_RETRIES", "2", 1);
        auto acquired = Station::acquire();
        FUZZ_CHECK(static_cast<bool>(acquired), "the IPX station");
        return *acquired;
    }();
    return s;
}

Header from_peer(const SpxPort& port, uint8_t packet_type, size_t len)
{
    Header h;
    h.packet_type = packet_type;
    h.length = static_cast<uint16_t>(kHeaderSize + len);
    h.src = Address{station()->network(), station()->node(), kPeerSocket};
    h.dest = Address{station()->network(), station()->node(), port.socket()};
    return h;
}

void send_system(SpxPort& port, uint8_t control, uint16_t dst_id)
{
    SpxHeader h;
    h.control = control;
    h.src_id = kPeerId;
    h.dst_id = dst_id;
    h.alloc = 8;
    uint8_t bytes[kSpxHeaderSize];
    encode_spx(h, bytes);
    port.deliver(from_peer(port, kSpxPacketType, sizeof bytes), bytes, sizeof bytes);
}

// A connection in the state the input's first byte names.
std::shared_ptr<SpxConnection> connection_in(uint8_t state, SpxPort& port)
{
    const Address peer{station()->network(), station()->node(), kPeerSocket};
    if (state % 5 <= 1) {
        auto opened = port.open(peer, kolm::platform::ipx::spx_params_from_env());
        FUZZ_CHECK(static_cast<bool>(opened), "opening a connection");
        auto conn = *opened;
        conn->start_connect();
        if (state % 5 == 1)
            send_system(port, kSpxSys, conn->local_id()); // the listener's answer
        return conn;
    }
    port.listen(1);
    send_system(port, kSpxSys | kSpxAckReq, kSpxUnknownId); // a connect request
    auto conn = port.take_accepted();
    FUZZ_CHECK(conn != nullptr, "accepting a connection");
    if (state % 5 == 3)
        conn->close_orderly();
    else if (state % 5 == 4)
        conn->abort();
    return conn;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    auto port = std::make_shared<SpxPort>(station());
    FUZZ_CHECK(port->valid() && port->attach(0), "the SPX port");
    auto conn = connection_in(data[0], *port);
    for (size_t pos = 1; pos < size;) {
        const size_t len = std::min<size_t>(data[pos], size - pos - 1);
        const uint8_t* p = data + pos + 1;
        pos += 1 + len;
        if (len == 0)
            continue;
        const uint8_t flags = p[0];
        // The packet in its own allocation, as a receive buffer holds it.
        std::vector<uint8_t> packet(p + 1, p + len);
        if ((flags & 1) && packet.size() >= 6) {
            packet[4] = static_cast<uint8_t>(conn->local_id() >> 8);
            packet[5] = static_cast<uint8_t>(conn->local_id());
        }
        if ((flags & 2) && packet.size() >= 4) {
            packet[2] = kPeerId >> 8;
            packet[3] = kPeerId & 0xFF;
        }
        const uint8_t type = (flags & 4) ? static_cast<uint8_t>(flags >> 3) : kSpxPacketType;
        port->deliver(from_peer(*port, type, packet.size()), packet.data(), packet.size());
    }
    // What arrived in order is read as the socket would read it.
    char buf[600];
    while (conn->bytes_readable() > 0) {
        auto got = conn->try_recv(buf, sizeof buf, false);
        if (!got || *got == 0)
            break;
    }
    // The socket lets go as it would: a closing connection is already
    // without one and finishes on its own.
    if (data[0] % 5 != 3)
        conn->abort();
    port->stop_listening();
    return 0;
}
