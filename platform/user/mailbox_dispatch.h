// Serving one mailbox connection: one request read, routed to the window
// it names (or to this process's window list), one reply written.
//
// Runs on the connection's own thread, which owns the client descriptor
// from accept to close. Sent messages are handed to the window's thread
// through its queue and answered there; this thread only waits.
#pragma once

namespace kolm::platform {

// Serves the one request on `fd`, then closes it. A malformed or unknown
// request gets no answer: the connection closes.
void serve_connection(int fd);

} // namespace kolm::platform
