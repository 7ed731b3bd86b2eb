// Host names and dotted addresses for gethostbyname and inet_addr.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolm::platform::net {

struct HostLookup {
    int error = 0;                // WSA code; 0 when found
    std::string name;             // the official name
    std::vector<uint32_t> addrs;  // IPv4 addresses, network byte order
};

// Replaces the system resolver (tests: answers without any name service).
// An empty function restores the system one.
using ResolverHook = std::function<HostLookup(const std::string& name)>;
void set_resolver_hook(ResolverHook hook);

// A name the resolver could ever find: dot-separated labels of letters,
// digits, '-' and '_', at most 63 characters each and 253 in all (one
// trailing dot allowed). Anything else is "host not found" at once, without
// asking any name service.
bool plausible_host_name(std::string_view name);

// IPv4 addresses only, as Windows Sockets 1.1 knows them.
HostLookup resolve_host(const char* name);

// The dotted forms inet_addr accepts: "a.b.c.d", "a.b.c" (c is 16 bits),
// "a.b" (b is 24 bits) and "a" (32 bits); each part decimal, octal with a
// leading 0, or hex with 0x. Nothing may follow. Network byte order.
std::optional<uint32_t> parse_dotted_address(const char* text);

} // namespace kolm::platform::net
