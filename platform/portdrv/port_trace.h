// With KOLM_PORT_TRACE set (and not "0"), the pty port writes one line per
// session event on standard error, prefixed "kolmport: ".
#pragma once

namespace kolm::platform::portdrv {

void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace kolm::platform::portdrv
