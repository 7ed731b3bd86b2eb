#include "resolver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "wsa_error.h"

namespace kolm::platform::net {

namespace {

std::mutex g_hook_mutex;
ResolverHook g_hook; // guarded by g_hook_mutex

bool label_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

HostLookup system_lookup(const std::string& name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    HostLookup r;
    if (rc != 0) {
        r.error = rc == EAI_SYSTEM ? wsa_error_from_errno(errno) : wsa_error_from_gai(rc);
        return r;
    }
    r.name = list->ai_canonname ? list->ai_canonname : name;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_family != AF_INET)
            continue;
        const uint32_t addr = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (uint32_t x : r.addrs)
            seen = seen || x == addr;
        if (!seen)
            r.addrs.push_back(addr);
    }
    ::freeaddrinfo(list);
    if (r.addrs.empty())
        r.error = WSANO_DATA;
    return r;
}

// One part of a dotted address: its value, and where it stopped.
std::optional<uint64_t> parse_part(const char*& p)
{
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    uint64_t v = 0;
    int digits = 0;
    for (;; ++p) {
        int d;
        const char c = *p;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        if (d >= base)
            return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFu)
            return std::nullopt;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    return v;
}

} // namespace

void set_resolver_hook(ResolverHook hook)
{
    std::lock_guard lock(g_hook_mutex);
    g_hook = std::move(hook);
}

bool plausible_host_name(std::string_view name)
{
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    if (name.empty() || name.size() > 253)
        return false;
    size_t label = 0;
    for (char c : name) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
        } else if (!label_char(c) || ++label > 63) {
            return false;
        }
    }
    return label > 0;
}

HostLookup resolve_host(const char* name)
{
    HostLookup r;
    if (!name) {
        r.error = WSAEFAULT;
        return r;
    }
    if (!plausible_host_name(name)) {
        r.error = WSAHOST_NOT_FOUND;
        return r;
    }
    ResolverHook hook;
    {
        std::lock_guard lock(g_hook_mutex);
        hook = g_hook;
    }
    return hook ? hook(name) : system_lookup(name);
}

std::optional<uint32_t> parse_dotted_address(const char* text)
{
    if (!text)
        return std::nullopt;
    const char* p = text;
    uint64_t parts[4];
    int count = 0;
    for (;;) {
        const auto v = parse_part(p);
        if (!v)
            return std::nullopt;
        parts[count++] = *v;
        if (*p == '\0')
            break;
        if (*p != '.' || count == 4)
            return std::nullopt;
        ++p;
    }
    uint64_t host = 0;
    switch (count) {
    case 1:
        host = parts[0];
        break;
    case 2:
        if (parts[0] > 0xFF || parts[1] > 0xFFFFFF)
            return std::nullopt;
        host = parts[0] << 24 | parts[1];
        break;
    case 3:
        if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF)
            return std::nullopt;
        host = parts[0] << 24 | parts[1] << 16 | parts[2];
        break;
    default:
        for (int i = 0; i < 4; ++i)
            if (parts[i] > 0xFF)
                return std::nullopt;
        host = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
        break;
    }
    return htonl(static_cast<uint32_t>(host));
}

} // namespace kolm::platform::net
