// Where the window mailboxes of a machine root live, and how to reach one.
//
// Each process with windows listens on run/win-<pid>.sock in the machine
// root. The run/ folder is owner-only (0700): the mailboxes take orders
// such as "destroy this window", so nobody else may reach them.
#pragma once

#include "internal/fd.h"

#include "user/user_area.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sockaddr_un;

namespace kolm::platform {

// The run/ folder, created 0700 if missing and tightened to 0700 if it is
// ours but looser; nullopt when it is not a folder of ours (a symlink, or
// another user's), in which case no mailbox is used there.
std::optional<std::filesystem::path> mailbox_dir();

std::string mailbox_file_name(DWORD pid);
std::optional<DWORD> pid_from_mailbox_file_name(std::string_view name);

// Pids of the mailboxes in a folder, in ascending order.
std::vector<DWORD> mailbox_pids(const std::filesystem::path& dir);

// A socket address for a path. Paths too long for sockaddr_un are reached
// through the folder's descriptor (/proc/self/fd/N/name), which the object
// keeps open for as long as it lives.
class SocketAddress {
public:
    explicit SocketAddress(const std::filesystem::path& path);
    SocketAddress(const SocketAddress&) = delete;
    SocketAddress& operator=(const SocketAddress&) = delete;

    bool valid() const { return m_valid; }
    const sockaddr_un* addr() const;
    unsigned length() const { return m_length; }

private:
    alignas(8) unsigned char m_storage[112] {};
    unsigned m_length = 0;
    Fd m_dir_fd;
    bool m_valid = false;
};

bool process_alive(DWORD pid);

// Whether the other end of a connected Unix socket runs as this process's
// user (SO_PEERCRED). A mailbox takes orders such as "destroy this window"
// and answers with window texts, so both ends check it: the folder's mode
// alone is not trusted.
bool peer_is_same_user(int fd);

} // namespace kolm::platform
