// Where the IPX segment is: the settings every station reads at start-up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kolm::platform::ipx {

struct SegmentConfig {
    uint32_t interface_addr; // KOLM_IPX_IF, network byte order
    uint32_t group_addr;     // KOLM_IPX_GROUP address, network byte order
    uint16_t group_port;     // KOLM_IPX_GROUP port, host byte order
    uint32_t network;        // KOLM_IPX_NET
};

inline constexpr const char* kDefaultInterface = "127.0.0.1";
inline constexpr const char* kDefaultGroup = "239.255.2.13:21300";
inline constexpr const char* kDefaultNetwork = "00000001";

// The settings from their texts; null or empty texts take the defaults.
// The interface is a dotted IPv4 address, the group a multicast address
// with ":port" (21300 when left out), the network 1 to 8 hex digits.
// On a malformed text, returns nothing and says why in *error.
std::optional<SegmentConfig> parse_segment_config(const char* interface_text, const char* group_text,
                                                  const char* network_text, std::string* error);

// The same from KOLM_IPX_IF, KOLM_IPX_GROUP and KOLM_IPX_NET.
std::optional<SegmentConfig> segment_config_from_env(std::string* error);

} // namespace kolm::platform::ipx
