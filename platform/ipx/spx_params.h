// The timers, retry counts and window of SPX connections.
//
// Defaults suit a loopback or LAN segment; each may be overridden through
// the environment (read whenever a connection is made) so that tests can
// run the timers fast:
//   KOLM_SPX_VERIFY_MS   idle send time before a keep-alive      (3000)
//   KOLM_SPX_LISTEN_MS   idle receive time before a watchdog ask (6000)
//   KOLM_SPX_ABORT_MS    silence that ends a connection          (30000)
//   KOLM_SPX_RTO_MS      first retransmission time-out           (500)
//   KOLM_SPX_RTO_MAX_MS  the time-out doubles up to this         (5000)
//   KOLM_SPX_RETRIES     time-outs in a row before giving up     (15)
//   KOLM_SPX_CONNECT_MS  interval of connect requests            (500)
//   KOLM_SPX_CONNECT_RETRIES  connect requests sent              (12)
//   KOLM_SPX_WINDOW      receive window in packets, 1..64        (16)
//   KOLM_SPX_FIRST_SEQ   first sequence number of each direction (0);
//                        both ends must agree (a test hook for the wrap).
#pragma once

#include <chrono>
#include <cstdint>

namespace kolm::platform::ipx {

// Data bytes in one SPX packet: 576 - 30 (IPX) - 12 (SPX).
inline constexpr size_t kSpxHeaderSize = 12;
inline constexpr size_t kSpxMaxData = 534;

struct SpxParams {
    std::chrono::milliseconds verify{3000};
    std::chrono::milliseconds listen{6000};
    std::chrono::milliseconds abort{30000};
    std::chrono::milliseconds rto{500};
    std::chrono::milliseconds rto_max{5000};
    unsigned retries = 15;
    std::chrono::milliseconds connect_interval{500};
    unsigned connect_retries = 12;
    uint16_t window = 16;
    uint16_t first_seq = 0;
};

SpxParams spx_params_from_env();

// 16-bit serial arithmetic: a before b, allowing for the wrap.
inline bool seq_before(uint16_t a, uint16_t b)
{
    return static_cast<int16_t>(static_cast<uint16_t>(a - b)) < 0;
}
inline bool seq_not_after(uint16_t a, uint16_t b)
{
    return !seq_before(b, a);
}

} // namespace kolm::platform::ipx
