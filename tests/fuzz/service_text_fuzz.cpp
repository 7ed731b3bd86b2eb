// The text forms of a service: the stored form read from the registry, the
// list form of the setup utility, and the 27-character IPX address text.
// Whatever they are given, nothing is read or written past a buffer, and
// what they write reads back as the same service.
#include <cstdint>
#include <cstring>
#include <memory>

#include "data.h"
#include "fuzz_check.h"

namespace {

bool same_service(const service_desc& a, const service_desc& b, bool with_addr)
{
    if (a.protocol != b.protocol || std::strcmp(a.name, b.name) != 0)
        return false;
    return !with_addr
        || (std::memcmp(a.addr.sa_netnum, b.addr.sa_netnum, sizeof a.addr.sa_netnum) == 0
            && std::memcmp(a.addr.sa_nodenum, b.addr.sa_nodenum, sizeof a.addr.sa_nodenum) == 0);
}

// A record filled with a pattern, so untouched fields show.
service_desc blank()
{
    service_desc s;
    std::memset(&s, 0xbd, sizeof s);
    return s;
}

void stored_form(const char* text)
{
    service_desc s = blank();
    if (!stored_to_desc(text, &s))
        return;
    FUZZ_CHECK(std::strlen(s.name) < SERVICE_NAME_LEN, "a name longer than its field");
    char out[STORED_TEXT_LEN];
    const int n = desc_to_stored(&s, out);
    FUZZ_CHECK(n >= 0 && n < STORED_TEXT_LEN && out[n] == '\0', "a stored text longer than its buffer");
    if (s.name[0] == '\0') {
        // "IP:" alone: a slot without a name is an empty one.
        FUZZ_CHECK(n == 0, "an empty slot written as a service");
        return;
    }
    service_desc again = blank();
    FUZZ_CHECK(stored_to_desc(out, &again), "a stored text written is not read back");
    FUZZ_CHECK(same_service(s, again, s.protocol == PROTO_IPX), "a stored text reads back as another service");
}

void list_form(const char* text)
{
    service_desc s = blank();
    list_to_desc(text, &s);
    FUZZ_CHECK(std::strlen(s.name) < SERVICE_NAME_LEN, "a list name longer than its field");
    char out[LIST_PREFIX_LEN + SERVICE_NAME_LEN];
    desc_to_list(&s, out);
    FUZZ_CHECK(std::strlen(out) < sizeof out, "a list entry longer than its buffer");
    service_desc again = blank();
    list_to_desc(out, &again);
    FUZZ_CHECK(s.name[0] == '\0' || same_service(s, again, false), "a list entry reads back as another service");
}

void address_text(char* text)
{
    sockaddr_ipx addr;
    std::memset(&addr, 0, sizeof addr);
    textToAddr(text, &addr);
    char out[IPX_ADDR_TEXT_LEN + 1];
    char* end = addrToText(out, &addr);
    FUZZ_CHECK(end == out + IPX_ADDR_TEXT_LEN && *end == '\0', "an address text of another length");
    sockaddr_ipx again;
    std::memset(&again, 0, sizeof again);
    textToAddr(out, &again);
    FUZZ_CHECK(std::memcmp(&addr, &again, sizeof addr) == 0, "an address text reads back as another address");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The text in an allocation of exactly its length and a NUL: any read
    // past the NUL is one past the allocation.
    std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    stored_form(text.get());
    list_form(text.get());
    address_text(text.get());
    return 0;
}
