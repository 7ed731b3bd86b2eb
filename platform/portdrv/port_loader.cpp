#include "portdrv/port_loader.h"

#include "internal/nocase.h"
#include "internal/system.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include "kernel/process_exit.h"
#include "portdrv/port_driver.h"
#include "portdrv/port_identity.h"
#include "portdrv/pty_links.h"
#include "portdrv/pty_port.h"
#include "win32.h"

namespace kolm::platform::portdrv {

namespace {

const char kPortPath[] = "Enum\\Root\\Ports";
const char kClassPath[] = "System\\CurrentControlSet\\Services\\Class";
const char kOurDriver[] = "kolmvx.vxd";

// A REG_SZ of an open key into `buf`; false when missing, too long or not
// a string.
bool read_string(HKEY key, const char* name, char* buf, DWORD size)
{
    DWORD type = 0;
    DWORD len = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &len) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ || len == 0)
        return false;
    buf[len < size ? len : size - 1] = '\0';
    return true;
}

// The name becomes a file name under dev/: letters and digits only.
bool usable_port_name(const char* name)
{
    if (!*name)
        return false;
    for (const char* p = name; *p; ++p)
        if (!std::isalnum(static_cast<unsigned char>(*p)))
            return false;
    return true;
}

bool driver_is_ours(const char* driver, std::string* why)
{
    const std::string path = std::string(kClassPath) + "\\" + driver;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        if (why)
            *why = "its driver entry " + path + " is missing";
        return false;
    }
    char port_driver[64] = "";
    const bool read = read_string(key, "PortDriver", port_driver, sizeof port_driver);
    RegCloseKey(key);
    if (!read || !equal_nocase(port_driver, kOurDriver)) {
        if (why)
            *why = "its driver entry " + path + " names another port driver";
        return false;
    }
    return true;
}

// Exit handling: the loaded ports whose links go when the process does.
std::mutex g_exit_lock;
LoadedPorts* g_loaded = nullptr; // guarded by g_exit_lock
int g_signal_pipe[2] = {-1, -1};
std::once_flag g_exit_once;

void withdraw_loaded_links()
{
    std::lock_guard lock(g_exit_lock);
    if (g_loaded)
        g_loaded->withdraw_links();
}

void on_exit_signal(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(g_signal_pipe[1], &byte, 1);
    errno = saved;
}

// The runtime window published in the registry, if it is this process's:
// a window another process published there must never be ended by a signal
// sent to this one.
HWND own_runtime_window()
{
    const HWND runtime = DwordToHandle<HWND>(read_published_value("HWND"));
    DWORD pid = 0;
    if (!runtime || !GetWindowThreadProcessId(runtime, &pid) || pid != GetCurrentProcessId())
        return nullptr;
    return runtime;
}

// Runs outside the signal handler: removes the links, then asks the
// runtime to end the way the installer does. Without a runtime window of
// this process the signal takes its default course.
void exit_signal_thread()
{
    for (;;) {
        unsigned char sig = 0;
        const auto n = sys::read(g_signal_pipe[0], &sig, 1);
        if (!n || *n == 0)
            return;
        withdraw_loaded_links();
        const HWND runtime = own_runtime_window();
        if (!runtime || !PostMessageA(runtime, WM_DESTROY, 0, 0)) {
            std::signal(sig, SIG_DFL);
            std::raise(sig);
        }
    }
}

void install_exit_handling(bool signals)
{
    std::call_once(g_exit_once, [signals] {
        at_process_exit(withdraw_loaded_links);
        if (!signals || ::pipe2(g_signal_pipe, O_CLOEXEC) != 0)
            return;
        struct sigaction sa {};
        sa.sa_handler = on_exit_signal;
        sa.sa_flags = SA_RESETHAND | SA_RESTART;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
        std::thread(exit_signal_thread).detach();
    });
}

} // namespace

struct LoaderAccess {
    static std::unique_ptr<LoadedPorts> make() { return std::unique_ptr<LoadedPorts>(new LoadedPorts()); }
    static LoadedPorts& fill(LoadedPorts& l, std::string name, std::shared_ptr<PtyPort> port,
                             std::shared_ptr<PortDriver> driver)
    {
        l.m_name = std::move(name);
        l.m_port = std::move(port);
        l.m_driver = std::move(driver);
        l.m_installation = std::make_unique<DriverInstallation>(l.m_driver);
        return l;
    }
};

std::optional<gid_t> port_group(const char* value, std::string* why)
{
    if (!value || !*value)
        return ::getgid();
    char* end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(value, &end, 10);
    if (std::isdigit(static_cast<unsigned char>(*value)) && *end == '\0') {
        if (errno == 0 && number < static_cast<gid_t>(-1))
            return static_cast<gid_t>(number);
        if (why)
            *why = std::string("no group number ") + value;
        return std::nullopt;
    }
    group entry {};
    group* found = nullptr;
    std::vector<char> buf(4096);
    int rc;
    while ((rc = ::getgrnam_r(value, &entry, buf.data(), buf.size(), &found)) == ERANGE && buf.size() < (1u << 20))
        buf.resize(buf.size() * 2);
    if (rc == 0 && found)
        return found->gr_gid;
    if (why)
        *why = std::string("no group named ") + value;
    return std::nullopt;
}

std::optional<RegisteredPort> find_redirected_port(std::string* why)
{
    const RedirectedPortInfo* program = redirected_port_info();
    if (!program || !program->findPort) {
        if (why)
            *why = "the program named no redirected port";
        return std::nullopt;
    }
    // The runtime takes the first port with its mark, reading subkey names
    // of up to 7 characters; the driver is loaded for that same port.
    char sub[8] = "";
    const LONG search = program->findPort(sub, sizeof sub);
    if (search != ERROR_SUCCESS) {
        if (why)
            *why = search == ERROR_FILE_NOT_FOUND ? std::string("no port is registered")
                                                  : std::string("no registered port is a ") + program->maker + " port";
        return std::nullopt;
    }
    const std::string where = std::string(kPortPath) + "\\" + sub;
    HKEY device;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, where.c_str(), 0, KEY_READ, &device) != ERROR_SUCCESS) {
        if (why)
            *why = "no port is registered";
        return std::nullopt;
    }
    char name[8] = "";
    char driver[64] = "";
    const bool named = read_string(device, "PORTNAME", name, sizeof name);
    const bool has_driver = read_string(device, "Driver", driver, sizeof driver);
    RegCloseKey(device);
    if (!named || !usable_port_name(name)) {
        if (why)
            *why = where + " has no usable PORTNAME";
    } else if (!has_driver) {
        if (why)
            *why = where + " has no Driver";
    } else if (driver_is_ours(driver, why)) {
        return RegisteredPort{name, sub};
    }
    return std::nullopt;
}

LoadedPorts::~LoadedPorts()
{
    {
        std::lock_guard lock(g_exit_lock);
        if (g_loaded == this)
            g_loaded = nullptr;
    }
    m_installation.reset();
    if (m_port) {
        m_port->stop();
        // A device handle the runtime left open keeps the driver, and with
        // it the port, alive; the links go now all the same.
        withdraw_links();
    }
    m_driver.reset();
    m_port.reset();
}

void LoadedPorts::withdraw_links()
{
    const std::string published = m_port->published_path();
    withdraw_link(m_port->link_path(), published);
    if (!m_port->extra_link().empty())
        withdraw_link(m_port->extra_link(), published);
}

} // namespace kolm::platform::portdrv

namespace kolm::platform {

std::unique_ptr<PortDrivers> PortDrivers::load()
{
    return portdrv::load_port_drivers();
}

} // namespace kolm::platform

namespace kolm::platform::portdrv {

std::unique_ptr<LoadedPorts> load_port_drivers(const LoaderSettings& settings)
{
    std::string why;
    auto found = find_redirected_port(&why);
    if (!found) {
        if (settings.announce)
            std::fprintf(stderr, "%s: no port driver loaded: %s\n", program_invocation_short_name, why.c_str());
        return nullptr;
    }

    PtyPortOptions options;
    options.port_name = found->name;
    const auto group = port_group(std::getenv("KOLM_PORT_GROUP"), &why);
    if (!group) {
        std::fprintf(stderr, "%s: %s: cannot make the port: KOLM_PORT_GROUP: %s\n", program_invocation_short_name, found->name.c_str(),
                     why.c_str());
        return nullptr;
    }
    options.group = *group;
    if (const char* link = std::getenv("KOLM_PORT_LINK"); link && *link)
        options.extra_link = link;
    const char* commands = std::getenv("KOLM_DRIVER_COMMANDS");
    options.path = commands && equal_nocase(commands, "window") ? CommandPath::Window : CommandPath::Event;

    auto made = PtyPort::create(options);
    if (!made) {
        std::fprintf(stderr, "%s: %s: cannot make the port: %s\n", program_invocation_short_name, found->name.c_str(),
                     made.error().message().c_str());
        return nullptr;
    }
    auto port = made.value();
    DriverOptions driver_options;
    driver_options.path = options.path;
    auto driver = std::make_shared<PortDriver>(port, driver_options);
    port->attach(driver);

    auto loaded = LoaderAccess::make();
    LoaderAccess::fill(*loaded, found->name, port, driver);
    if (settings.announce) {
        std::fprintf(stderr, "%s: %s is %s (%s)\n", program_invocation_short_name, found->name.c_str(), port->link_path().c_str(),
                     port->slave_path().c_str());
        if (!port->extra_link().empty()) {
            if (port->link_problem().empty())
                std::fprintf(stderr, "%s: %s is also %s\n", program_invocation_short_name, found->name.c_str(), port->extra_link().c_str());
            else
                std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, found->name.c_str(), port->link_problem().c_str());
        }
    }
    {
        std::lock_guard lock(g_exit_lock);
        g_loaded = loaded.get();
    }
    install_exit_handling(settings.exit_signals);
    return loaded;
}

} // namespace kolm::platform::portdrv
