// The SPX header: 12 bytes after the IPX header of a packet of type 5,
// every number big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kolm::platform::ipx {

inline constexpr uint8_t kSpxPacketType = 5;

// Connection control bits.
inline constexpr uint8_t kSpxSys = 0x80;    // system packet: not data, no sequence number
inline constexpr uint8_t kSpxAckReq = 0x40; // answer at once
inline constexpr uint8_t kSpxAttention = 0x20;
inline constexpr uint8_t kSpxEom = 0x10;    // last packet of one send

// Datastream types of the disconnect.
inline constexpr uint8_t kSpxEndOfConnection = 0xFE;
inline constexpr uint8_t kSpxEndAck = 0xFF;

inline constexpr uint16_t kSpxUnknownId = 0xFFFF;

struct SpxHeader {
    uint8_t control = 0;
    uint8_t datastream = 0;
    uint16_t src_id = 0;
    uint16_t dst_id = kSpxUnknownId;
    uint16_t seq = 0;
    uint16_t ack = 0;
    uint16_t alloc = 0;

    bool is_system() const { return control & kSpxSys; }
    bool wants_ack() const { return control & kSpxAckReq; }
    // A connect request: SYS and ACK with the peer's id not yet known.
    bool is_connect_request() const { return is_system() && wants_ack() && dst_id == kSpxUnknownId; }
};

// Writes exactly 12 bytes.
void encode_spx(const SpxHeader& h, uint8_t* out);
// Nothing when fewer than 12 bytes are there.
std::optional<SpxHeader> decode_spx(const uint8_t* data, size_t len);

} // namespace kolm::platform::ipx
