// A frame as it comes off a mailbox connection, split from the byte stream
// and decoded as each request and reply; whatever decodes encodes and
// decodes again. A send or post request that decodes is also unmarshalled
// as the target process would: every pointer it leaves in lParam points at
// a NUL-terminated buffer of its own.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "user/marshal.h"
#include "user/message_queue.h"
#include "user/wire.h"

namespace {

using namespace kolm::platform::wire;

// Decoded, encoded and split again: the same operation and a body that
// decodes once more.
template <typename Decode>
void round_trip(const std::vector<uint8_t>& body, Decode decode)
{
    const auto first = decode(body);
    if (!first)
        return;
    const std::vector<uint8_t> bytes = encode(*first);
    size_t used = 0;
    bool bad = false;
    const auto frame = parse_frame(bytes.data(), bytes.size(), used, bad);
    FUZZ_CHECK(frame && !bad && used == bytes.size(), "an encoded frame does not split again");
    FUZZ_CHECK(decode(frame->body).has_value(), "an encoded body does not decode again");
}

// What the target makes of a send request: a refused request is refused
// whole; an accepted one leaves lParam either a number from the request or
// a pointer into the message's own NUL-terminated storage, with what the
// window may write bounded by that storage.
void unmarshal_send(const std::vector<uint8_t>& body)
{
    const auto req = decode_send_request(body);
    if (!req)
        return;
    kolm::platform::SentMessage sm;
    if (!kolm::platform::unmarshal_send_request(*req, sm))
        return;
    FUZZ_CHECK(sm.storage.size() <= max_frame_bytes,
               "unmarshalled storage beyond the frame limit");
    const auto* lp = reinterpret_cast<const char*>(sm.lparam);
    const bool points_into_storage
        = !sm.storage.empty() && lp >= sm.storage.data() && lp < sm.storage.data() + sm.storage.size();
    if (points_into_storage)
        FUZZ_CHECK(sm.storage.back() == '\0', "marshalled text without its NUL");
    else
        FUZZ_CHECK(sm.lparam == static_cast<LPARAM>(req->lparam) || sm.lparam == 0,
                   "lParam is neither the request's number nor our own buffer");
    if (sm.capture) {
        // The window wrote nothing (or the answer says more than fits).
        sm.capture(sm, static_cast<LRESULT>(req->lparam));
        FUZZ_CHECK(sm.out.size() <= sm.storage.size(), "captured more than the buffer holds");
    }
}

void unmarshal_post(const std::vector<uint8_t>& body)
{
    const auto req = decode_post_request(body);
    if (!req)
        return;
    if (const auto msg = kolm::platform::unmarshal_post_request(*req)) {
        FUZZ_CHECK(kolm::platform::postable(msg->message), "a message that may not be posted was accepted");
        FUZZ_CHECK(msg->lParam == static_cast<LPARAM>(req->lparam), "a posted lParam changed on the way");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t used = 0;
    bool bad = false;
    const auto frame = parse_frame(data, size, used, bad);
    if (!frame) {
        FUZZ_CHECK(used == 0, "a frame that was not split used bytes");
        return 0;
    }
    FUZZ_CHECK(used >= 6 && used <= size && frame->body.size() == used - 6, "a frame's length and body disagree");
    round_trip(frame->body, decode_find_request);
    round_trip(frame->body, decode_find_reply);
    round_trip(frame->body, decode_query_request);
    round_trip(frame->body, decode_query_reply);
    round_trip(frame->body, decode_send_request);
    round_trip(frame->body, decode_send_reply);
    round_trip(frame->body, decode_post_request);
    round_trip(frame->body, decode_post_reply);
    unmarshal_send(frame->body);
    unmarshal_post(frame->body);
    return 0;
}
