// A frame as it comes off a mailbox connection, split from the byte stream
// and decoded as each request and reply; whatever decodes encodes and
// decodes again.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
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
    return 0;
}
