#include "portdrv/port_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace kolm::platform::portdrv {

void trace(const char* fmt, ...)
{
    static const bool on = [] {
        const char* v = std::getenv("KOLM_PORT_TRACE");
        return v && *v && std::string_view(v) != "0";
    }();
    if (!on)
        return;
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "kolmport: %s\n", line);
}

} // namespace kolm::platform::portdrv
