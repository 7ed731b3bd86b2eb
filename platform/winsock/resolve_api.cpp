// gethostbyname, inet_addr, inet_ntoa.
#include "api.h"

#include <cstring>

#include "winsock/core/resolver.h"

using namespace kolm::platform;
using namespace kolm::platform::winsock;

namespace {

constexpr size_t kMaxAddrs = 35;

// gethostbyname's answer, one per thread as in Winsock.
struct HostBuffer {
    win32::hostent host;
    char name[256];
    char* aliases[1];
    char* addr_list[kMaxAddrs + 1];
    uint32_t addrs[kMaxAddrs];
};
thread_local HostBuffer t_host;
thread_local char t_ntoa[16];

} // namespace

win32::hostent* win32::gethostbyname(const char* name)
{
    if (!started()) {
        fail(WSANOTINITIALISED);
        return nullptr;
    }
    const net::HostLookup r = net::resolve_host(name);
    if (r.error != 0) {
        fail(r.error);
        return nullptr;
    }
    HostBuffer& b = t_host;
    std::memset(&b, 0, sizeof b);
    std::strncpy(b.name, r.name.c_str(), sizeof b.name - 1);
    const size_t n = r.addrs.size() < kMaxAddrs ? r.addrs.size() : kMaxAddrs;
    for (size_t i = 0; i < n; ++i) {
        b.addrs[i] = r.addrs[i];
        b.addr_list[i] = reinterpret_cast<char*>(&b.addrs[i]);
    }
    b.host.h_name = b.name;
    b.host.h_aliases = b.aliases;
    b.host.h_addrtype = AF_INET;
    b.host.h_length = 4;
    b.host.h_addr_list = b.addr_list;
    return &b.host;
}

win32::u_long win32::inet_addr(const char* cp)
{
    const auto a = net::parse_dotted_address(cp);
    return a ? *a : INADDR_NONE;
}

char* win32::inet_ntoa(struct in_addr in)
{
    unsigned char b[4];
    std::memcpy(b, &in.s_addr, 4);
    std::snprintf(t_ntoa, sizeof t_ntoa, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return t_ntoa;
}
