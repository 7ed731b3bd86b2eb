#include "segment_config.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

namespace kolm::platform::ipx {

namespace {

constexpr uint16_t kDefaultGroupPort = 21300;

const char* or_default(const char* text, const char* fallback)
{
    return text && *text ? text : fallback;
}

bool parse_ipv4(const std::string& text, uint32_t* out)
{
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    *out = a.s_addr;
    return true;
}

bool parse_port(const std::string& text, uint16_t* out)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v == 0 || v > 65535)
        return false;
    *out = static_cast<uint16_t>(v);
    return true;
}

bool parse_network(std::string text, uint32_t* out)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.erase(0, 2);
    if (text.empty() || text.size() > 8)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *out = v;
    return true;
}

} // namespace

std::optional<SegmentConfig> parse_segment_config(const char* interface_text, const char* group_text,
                                                  const char* network_text, std::string* error)
{
    SegmentConfig c{};
    const std::string iface = or_default(interface_text, kDefaultInterface);
    if (!parse_ipv4(iface, &c.interface_addr)) {
        *error = "KOLM_IPX_IF is not an IPv4 address: " + iface;
        return std::nullopt;
    }
    const std::string group = or_default(group_text, kDefaultGroup);
    const size_t colon = group.find(':');
    c.group_port = kDefaultGroupPort;
    if (!parse_ipv4(group.substr(0, colon), &c.group_addr)
        || (colon != std::string::npos && !parse_port(group.substr(colon + 1), &c.group_port))) {
        *error = "KOLM_IPX_GROUP is not ADDRESS[:PORT]: " + group;
        return std::nullopt;
    }
    if ((ntohl(c.group_addr) >> 28) != 0xE) {
        *error = "KOLM_IPX_GROUP is not a multicast address: " + group;
        return std::nullopt;
    }
    const std::string network = or_default(network_text, kDefaultNetwork);
    if (!parse_network(network, &c.network)) {
        *error = "KOLM_IPX_NET is not a hex network number: " + network;
        return std::nullopt;
    }
    return c;
}

std::optional<SegmentConfig> segment_config_from_env(std::string* error)
{
    return parse_segment_config(std::getenv("KOLM_IPX_IF"), std::getenv("KOLM_IPX_GROUP"), std::getenv("KOLM_IPX_NET"),
                                error);
}

} // namespace kolm::platform::ipx
