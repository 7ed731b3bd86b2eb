// The machine a test or fuzz target runs on: a fresh machine root, and a
// private IPX segment. Free of any test framework, so the fuzz targets use
// them too.
#pragma once

#include <filesystem>
#include <string>

namespace kolm::test {

// A fresh temporary machine root (under $TMPDIR, else /tmp), set as
// KOLM_ROOT for the life of the object and removed afterwards. The host's
// serial ports stay out of it: KOLM_SYSFS_TTY names an empty folder of the
// root (a test that wants ports makes them there, see fake_serial_port).
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    const std::filesystem::path& sysfs_tty() const { return m_sysfs_tty; }

private:
    std::filesystem::path m_path;
    std::filesystem::path m_sysfs_tty;
    std::string m_old;
    bool m_had_old = false;
    std::string m_old_tty;
    bool m_had_old_tty = false;
};

// Adds ttySn to a fake sysfs tty folder, with its "type" and "port" files.
void fake_serial_port(const std::filesystem::path& sysfs_tty, unsigned n, unsigned type, const std::string& port);

// A private IPX segment for one test process: a multicast group address
// drawn at random on a UDP port the kernel just handed out. Set it (and the
// network number) in the environment before the first IPX socket, so that
// child processes started by the test join the same segment.
std::string private_ipx_group();
void use_private_ipx_segment(const char* network_hex = "0000000A");

} // namespace kolm::test
