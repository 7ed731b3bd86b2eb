#include "spx_params.h"

#include <cstdlib>

namespace kolm::platform::ipx {

namespace {

// A whole decimal number in [lo, hi], or the fallback.
long env_number(const char* name, long fallback, long lo, long hi)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 0);
    if (*end != '\0' || v < lo || v > hi)
        return fallback;
    return v;
}

std::chrono::milliseconds env_ms(const char* name, std::chrono::milliseconds fallback)
{
    return std::chrono::milliseconds(env_number(name, static_cast<long>(fallback.count()), 1, 3600 * 1000));
}

} // namespace

SpxParams spx_params_from_env()
{
    SpxParams p;
    p.verify = env_ms("KOLM_SPX_VERIFY_MS", p.verify);
    p.listen = env_ms("KOLM_SPX_LISTEN_MS", p.listen);
    p.abort = env_ms("KOLM_SPX_ABORT_MS", p.abort);
    p.rto = env_ms("KOLM_SPX_RTO_MS", p.rto);
    p.rto_max = env_ms("KOLM_SPX_RTO_MAX_MS", p.rto_max);
    if (p.rto_max < p.rto)
        p.rto_max = p.rto;
    p.retries = static_cast<unsigned>(env_number("KOLM_SPX_RETRIES", p.retries, 1, 255));
    p.connect_interval = env_ms("KOLM_SPX_CONNECT_MS", p.connect_interval);
    p.connect_retries = static_cast<unsigned>(env_number("KOLM_SPX_CONNECT_RETRIES", p.connect_retries, 1, 255));
    p.window = static_cast<uint16_t>(env_number("KOLM_SPX_WINDOW", p.window, 1, 64));
    p.first_seq = static_cast<uint16_t>(env_number("KOLM_SPX_FIRST_SEQ", p.first_seq, 0, 0xFFFF));
    return p;
}

} // namespace kolm::platform::ipx
