#include "portdrv/pty_links.h"

#include <cerrno>
#include <climits>

#include <sys/stat.h>
#include <unistd.h>

namespace kolm::platform::portdrv {

namespace {

std::string read_link(const std::filesystem::path& link)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

} // namespace

SysResult<bool> publish_link(const std::filesystem::path& link, const std::string& target)
{
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return failed(SysError{"refusing to replace " + link.string() + ", which is not a symbolic link", EEXIST});

    std::filesystem::path tmp = link;
    tmp += ".new-" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0)
        return failed(SysError{"symlink " + tmp.string(), errno});
    if (::rename(tmp.c_str(), link.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        return failed(SysError{"rename to " + link.string(), e});
    }
    return true;
}

bool withdraw_link(const std::filesystem::path& link, const std::string& target)
{
    if (read_link(link) != target)
        return false;
    return ::unlink(link.c_str()) == 0;
}

} // namespace kolm::platform::portdrv
