// The mailbox of this process: a Unix socket in the machine root's run/
// folder through which other processes find this process's windows and
// send or post messages to them.
//
// A background thread accepts connections (mailbox_listener.h); each
// connection carries one request and gets its own short-lived thread
// (mailbox_dispatch.h), so a slow, dead or malicious client never holds up
// the others, and a message whose window procedure never returns blocks
// only the one client that sent it. mailbox_exit.h says what happens when
// either end goes away.
#pragma once

#include <filesystem>
#include <optional>

namespace kolm::platform {

// Opens the mailbox in the current machine root if it is not open there
// yet (a test process may move to a fresh root between cases). Called
// whenever a window is created. False when no mailbox could be opened:
// the windows still work inside the process.
bool ensure_mailbox();

// The socket the mailbox listens on, if open.
std::optional<std::filesystem::path> mailbox_socket_path();

// Closes the mailbox and removes its socket file.
void close_mailbox();

} // namespace kolm::platform
