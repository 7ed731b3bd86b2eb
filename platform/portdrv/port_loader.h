// Loading the port driver when the runtime starts: what the configuration
// manager did at boot for the redirected COM port that the installer
// registered in the device registry.
//
// The port is the key under HKLM\Enum\Root\Ports that the program's own
// search finds (RegisterRedirectedPort: the one the runtime itself takes),
// with a "PORTNAME" and a "Driver" naming a key under
// HKLM\System\CurrentControlSet\Services\Class whose "PortDriver" is
// "kolmvx.vxd" (in any case). That port becomes a pseudo-terminal, published
// as dev/<PORTNAME> in the machine root, behind the device
// "\\.\KOLMVX.VXD". Without such a port nothing is loaded, and the runtime
// finds no driver.
//
// Environment:
//   KOLM_DRIVER_COMMANDS=window  the driver hands commands to the runtime as
//                                WM_COMMAND messages to its window; otherwise
//                                as bits behind the command event.
//   KOLM_PORT_LINK=PATH          the port is also published at PATH, a
//                                symbolic link replaced whenever the port is
//                                made anew and removed at exit. An existing
//                                file that is not a symbolic link is left
//                                alone.
//   KOLM_PORT_GROUP=GROUP        the pseudo-terminal's group (a name or a
//                                number; default the user's primary group),
//                                mode 0660: e.g. dialout, so that the users
//                                who may use serial ports may use this one.
//
// The links are removed when the process ends normally, on exit(), and on
// SIGINT or SIGTERM, which also ask the runtime to end as the installer
// does (WM_DESTROY to its window, if the window published is this
// process's). A second signal ends the process at once.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

#include "kolm/port_drivers.h"

namespace kolm::platform::portdrv {

class PtyPort;
class PortDriver;
class DriverInstallation;

// The redirected port as the device registry describes it.
struct RegisteredPort {
    std::string name;      // "PORTNAME", e.g. COM3
    std::string device_key; // subkey of Enum\Root\Ports, e.g. 0001
};

// The group KOLM_PORT_GROUP names (`value`: its text, or null when it is
// not set), or nothing with the reason in `why`.
std::optional<gid_t> port_group(const char* value, std::string* why);

// The program's port, if its driver is ours, or nothing (with the reason in
// `why` when given).
std::optional<RegisteredPort> find_redirected_port(std::string* why = nullptr);

// A loaded driver: the pty, the driver and its device name, for as long as
// the object lives.
class LoadedPorts final : public PortDrivers {
public:
    ~LoadedPorts() override;
    LoadedPorts(const LoadedPorts&) = delete;
    LoadedPorts& operator=(const LoadedPorts&) = delete;

    const std::string& port_name() const { return m_name; }
    PtyPort& port() const { return *m_port; }
    PortDriver& driver() const { return *m_driver; }
    // Removes the published links now (they come back if the port is made
    // anew before the object ends).
    void withdraw_links();

private:
    friend struct LoaderAccess;
    LoadedPorts() = default;
    std::string m_name;
    std::shared_ptr<PtyPort> m_port;
    std::shared_ptr<PortDriver> m_driver;
    std::unique_ptr<DriverInstallation> m_installation;
};

struct LoaderSettings {
    bool exit_signals = true; // handle SIGINT / SIGTERM as described above
    bool announce = true;     // tell the user on standard error which path to open
};

// Null when no redirected port is registered or its pty cannot be made.
std::unique_ptr<LoadedPorts> load_port_drivers(const LoaderSettings& settings = {});

} // namespace kolm::platform::portdrv
