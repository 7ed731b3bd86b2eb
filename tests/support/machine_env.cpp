#include "machine_env.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kolm::test {

TempRoot::TempRoot()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kolm-test-XXXXXX";
    const char* made = ::mkdtemp(tmpl.data());
    if (!made)
        throw std::runtime_error("mkdtemp failed");
    m_path = made;
    if (const char* old = std::getenv("KOLM_ROOT")) {
        m_old = old;
        m_had_old = true;
    }
    ::setenv("KOLM_ROOT", m_path.c_str(), 1);
    m_sysfs_tty = m_path / "sysfs-tty";
    std::filesystem::create_directory(m_sysfs_tty);
    if (const char* old = std::getenv("KOLM_SYSFS_TTY")) {
        m_old_tty = old;
        m_had_old_tty = true;
    }
    ::setenv("KOLM_SYSFS_TTY", m_sysfs_tty.c_str(), 1);
}

TempRoot::~TempRoot()
{
    if (m_had_old)
        ::setenv("KOLM_ROOT", m_old.c_str(), 1);
    else
        ::unsetenv("KOLM_ROOT");
    if (m_had_old_tty)
        ::setenv("KOLM_SYSFS_TTY", m_old_tty.c_str(), 1);
    else
        ::unsetenv("KOLM_SYSFS_TTY");
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void fake_serial_port(const std::filesystem::path& sysfs_tty, unsigned n, unsigned type, const std::string& port)
{
    const auto dir = sysfs_tty / ("ttyS" + std::to_string(n));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "type") << type << "\n";
    std::ofstream(dir / "port") << port << "\n";
}

std::string private_ipx_group()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    std::random_device rd;
    std::uniform_int_distribution<int> byte(1, 254);
    return "239.255." + std::to_string(byte(rd)) + "." + std::to_string(byte(rd)) + ":"
        + std::to_string(ntohs(a.sin_port));
}

void use_private_ipx_segment(const char* network_hex)
{
    ::setenv("KOLM_IPX_IF", "127.0.0.1", 1);
    ::setenv("KOLM_IPX_GROUP", private_ipx_group().c_str(), 1);
    ::setenv("KOLM_IPX_NET", network_hex, 1);
}

} // namespace kolm::test
