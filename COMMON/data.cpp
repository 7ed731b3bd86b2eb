#include "data.h"

#include <atomic>
#include <cstring>

port_mapping ports[MAX_PORTS];
char portName[PORT_NAME_LEN];

void clear_port_record(port_mapping* p)
{
    std::atomic_ref<signed char>(p->state).store(0);
    std::atomic_ref<signed char>(p->curServ).store(0);
    std::atomic_ref<DWORD>(p->socket).store(0);
    p->redirect = 0;
    memset(p->serv, 0, sizeof p->serv);
}

namespace {

const char kStoredIp[] = "IP:";
const char kStoredIpx[] = "IPX:";
const char kListIp[] = "[IP ]";
const char kListIpx[] = "[IPX]";

// Copies at most `room` - 1 characters and always terminates.
void copy_bounded(char* dst, const char* src, size_t room)
{
    size_t n = strnlen(src, room - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

// Converts up to `width` characters at `p` the way strtoul does in base 16,
// without reading past the text's end.
unsigned long hex_field(const char* p, size_t width)
{
    char field[16];
    size_t n = strnlen(p, width);
    memcpy(field, p, n);
    field[n] = '\0';
    return strtoul(field, nullptr, 16);
}

// Advances `p` by up to `n` characters, stopping at the terminating NUL.
char* skip(char* p, size_t n)
{
    return p + strnlen(p, n);
}

} // namespace

char* textToAddr(char* ptr, struct sockaddr_ipx* addr)
{
    const unsigned long net = hex_field(ptr, 8);
    addr->sa_netnum[0] = static_cast<char>((net >> 24) & 0xFF);
    addr->sa_netnum[1] = static_cast<char>((net >> 16) & 0xFF);
    addr->sa_netnum[2] = static_cast<char>((net >> 8) & 0xFF);
    addr->sa_netnum[3] = static_cast<char>(net & 0xFF);
    char* p = skip(ptr, 9);
    for (int i = 0; i < 6; ++i) {
        addr->sa_nodenum[i] = static_cast<char>(hex_field(p, 2) & 0xFF);
        p = skip(p, 3);
    }
    return p;
}

char* addrToText(char* ptr, const struct sockaddr_ipx* addr)
{
    const auto* n = reinterpret_cast<const unsigned char*>(addr->sa_netnum);
    const auto* d = reinterpret_cast<const unsigned char*>(addr->sa_nodenum);
    const DWORD net = (DWORD(n[0]) << 24) | (DWORD(n[1]) << 16) | (DWORD(n[2]) << 8) | DWORD(n[3]);
    wsprintfA(ptr, "%08.8X:", net);
    wsprintfA(ptr + 9, "%02.2X-%02.2X-%02.2X-%02.2X-%02.2X-%02.2X:", d[0], d[1], d[2], d[3], d[4], d[5]);
    return ptr + IPX_ADDR_TEXT_LEN;
}

int desc_to_stored(const service_desc* s, char* out)
{
    out[0] = '\0';
    if (s->name[0] == '\0')
        return 0;
    if (s->protocol == PROTO_IP)
        return wsprintfA(out, "%s%s", kStoredIp, s->name);
    if (s->protocol == PROTO_IPX) {
        strcpy(out, kStoredIpx);
        char* end = addrToText(out + 4, &s->addr);
        copy_bounded(end, s->name, SERVICE_NAME_LEN);
        return static_cast<int>(strlen(out));
    }
    return 0;
}

int stored_to_desc(const char* text, service_desc* s)
{
    s->name[0] = '\0';
    const size_t len = strnlen(text, STORED_TEXT_LEN);
    if (strncmp(text, kStoredIp, 3) == 0) {
        if (len - 3 >= SERVICE_NAME_LEN)
            return 0;
        s->protocol = PROTO_IP;
        copy_bounded(s->name, text + 3, SERVICE_NAME_LEN);
        return 1;
    }
    if (strncmp(text, kStoredIpx, 3) == 0) {
        // NOTE: the fourth character is skipped unexamined, as the readers
        // of these texts always have.
        if (len < 4 + IPX_ADDR_TEXT_LEN || len - 4 - IPX_ADDR_TEXT_LEN >= SERVICE_NAME_LEN)
            return 0;
        char buf[STORED_TEXT_LEN];
        copy_bounded(buf, text, sizeof buf);
        s->protocol = PROTO_IPX;
        const char* name = textToAddr(buf + 4, &s->addr);
        copy_bounded(s->name, name, SERVICE_NAME_LEN);
        return 1;
    }
    return 0;
}

void desc_to_list(const service_desc* s, char* out)
{
    out[0] = '\0';
    if (s->protocol == PROTO_IP)
        wsprintfA(out, "%s%s", kListIp, s->name);
    else if (s->protocol == PROTO_IPX)
        wsprintfA(out, "%s%s", kListIpx, s->name);
}

void list_to_desc(const char* text, service_desc* s)
{
    if (strncmp(text, kListIpx, LIST_PREFIX_LEN) == 0)
        s->protocol = PROTO_IPX;
    else if (strncmp(text, kListIp, LIST_PREFIX_LEN) == 0)
        s->protocol = PROTO_IP;
    else {
        s->protocol = PROTO_NONE;
        s->name[0] = '\0';
        return;
    }
    copy_bounded(s->name, text + LIST_PREFIX_LEN, SERVICE_NAME_LEN);
}
