#include "spx_wire.h"

namespace kolm::platform::ipx {

namespace {

void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

} // namespace

void encode_spx(const SpxHeader& h, uint8_t* out)
{
    out[0] = h.control;
    out[1] = h.datastream;
    put16(out + 2, h.src_id);
    put16(out + 4, h.dst_id);
    put16(out + 6, h.seq);
    put16(out + 8, h.ack);
    put16(out + 10, h.alloc);
}

std::optional<SpxHeader> decode_spx(const uint8_t* data, size_t len)
{
    if (len < 12)
        return std::nullopt;
    SpxHeader h;
    // The low nibble belongs to a later protocol revision; it means nothing here.
    h.control = data[0] & 0xF0;
    h.datastream = data[1];
    h.src_id = get16(data + 2);
    h.dst_id = get16(data + 4);
    h.seq = get16(data + 6);
    h.ack = get16(data + 8);
    h.alloc = get16(data + 10);
    return h;
}

} // namespace kolm::platform::ipx
