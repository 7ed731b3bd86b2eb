#include "user/mailbox_path.h"

#include "internal/machine_root.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kolm::platform {

static_assert(sizeof(sockaddr_un) <= 112, "socket address storage too small");

std::optional<std::filesystem::path> mailbox_dir()
{
    auto dir = machine_dir("run", 0700);
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return std::nullopt;
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0)
        return std::nullopt;
    return dir;
}

std::string mailbox_file_name(DWORD pid)
{
    return "win-" + std::to_string(pid) + ".sock";
}

std::optional<DWORD> pid_from_mailbox_file_name(std::string_view name)
{
    constexpr std::string_view prefix = "win-";
    constexpr std::string_view suffix = ".sock";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return std::nullopt;
    auto digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.size() > 7 || digits[0] == '0')
        return std::nullopt;
    DWORD pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        pid = pid * 10 + static_cast<DWORD>(c - '0');
    }
    return pid;
}

std::vector<DWORD> mailbox_pids(const std::filesystem::path& dir)
{
    std::vector<DWORD> pids;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        if (auto pid = pid_from_mailbox_file_name(it->path().filename().string()))
            pids.push_back(*pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

SocketAddress::SocketAddress(const std::filesystem::path& path)
{
    auto* sa = reinterpret_cast<sockaddr_un*>(m_storage);
    sa->sun_family = AF_UNIX;
    std::string target = path.string();
    if (target.size() >= sizeof sa->sun_path) {
        m_dir_fd.reset(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!m_dir_fd)
            return;
        target = "/proc/self/fd/" + std::to_string(m_dir_fd.get()) + "/" + path.filename().string();
        if (target.size() >= sizeof sa->sun_path)
            return;
    }
    std::memcpy(sa->sun_path, target.c_str(), target.size() + 1);
    m_length = static_cast<unsigned>(offsetof(sockaddr_un, sun_path) + target.size() + 1);
    m_valid = true;
}

const sockaddr_un* SocketAddress::addr() const
{
    return reinterpret_cast<const sockaddr_un*>(m_storage);
}

bool process_alive(DWORD pid)
{
    if (pid == 0 || pid > 0x7FFFFFFFu)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool peer_is_same_user(int fd)
{
    ucred cred {};
    socklen_t len = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred
        && cred.uid == ::geteuid();
}

} // namespace kolm::platform
