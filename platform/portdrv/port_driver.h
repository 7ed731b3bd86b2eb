// The port driver behind "\\.\KOLMVX.VXD": the driver side of the contract
// with the runtime (registration, the two byte rings, sub-functions,
// command bits, the four events, the published registry values, and the
// WM_COMMAND path), independent of what plays the application's part.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/device.h"
#include "kolmvx.h"

namespace kolm::platform::portdrv {

// The application's side of the port, as the driver sees it. Both calls are
// made inside the runtime's DIOC_READ / DIOC_WRITE and must not block.
class AppSide {
public:
    virtual ~AppSide() = default;
    // Copies up to `max` bytes of waiting application output into `dst`.
    virtual size_t take_output(char* dst, size_t max) = 0;
    // Ends one DIOC_READ, which may call take_output several times:
    // `moved` is what it appended to the ring in all.
    virtual void read_done(size_t moved) { (void)moved; }
    // Offers bytes from the network to the application; returns how many it
    // took now. The rest stays queued in the runtime's ring.
    virtual size_t give_input(const char* src, size_t len) = 0;
    // The same for the ring's two pieces, the first one first (the second
    // is empty unless the bytes wrap round the ring's end). The default
    // offers them one after the other; a side that can take both in one
    // step does.
    virtual size_t give_input_pieces(const char* first, size_t first_len, const char* second, size_t second_len)
    {
        const size_t n = give_input(first, first_len);
        if (n < first_len || second_len == 0)
            return n;
        return n + give_input(second, second_len);
    }
    // Bracket one DIOC_WRITE: `left` is what stayed in the ring.
    virtual void write_begin() {}
    virtual void write_done(size_t taken, size_t left) { (void)taken, (void)left; }
    // The runtime's answers and notices (SUBF_*).
    virtual void on_subfunction(int subf) { (void)subf; }
    // The runtime fetched the command bits `bits` (SUBF_GET_COMMANDS), on
    // its command service thread.
    virtual void commands_fetched(DWORD bits) { (void)bits; }
};

// One call the runtime made on the driver.
struct DriverCall {
    DWORD code = 0;
    int port = 0;
    int subfunction = 0; // DIOC_SUBF only
    DWORD result = 0;    // returned-byte count, or the output word of DIOC_SUBF
    bool ok = true;
};

enum class CommandPath { Event, Window };

struct DriverOptions {
    CommandPath path = CommandPath::Event;
    bool refuse_register = false; // answer DIOC_REGISTER with a failure
    bool record_calls = false;    // keep every call for calls() (tests)
};

class PortDriver {
public:
    PortDriver(std::shared_ptr<AppSide> app, DriverOptions options = {});

    // DeviceIoControl on an open handle of the driver.
    Result<DWORD> ioctl(DWORD code, const void* in, DWORD in_len, void* out, DWORD out_len);

    // The application did something: the command is handed to the runtime,
    // as a bit behind the command event or as a WM_COMMAND to its window.
    // Before registration the event and the window are found through the
    // "Event" and "HWND" values the runtime published. True when a runtime
    // was there to take it: registered, or its published event or window
    // exists.
    bool raise_command(int code, int port = 0);
    // Event path: signals the command event again if commands still wait
    // to be fetched (a signal given before the runtime published its event
    // reached nobody). Commands already fetched are not raised twice.
    // False while no runtime is there to take them.
    bool signal_pending_commands();
    // Event path: signals the command event even when no command waits, so
    // that the runtime fetches once more: its command service does so only
    // after it has carried out everything it fetched before.
    void request_fetch();
    // Application output is waiting: wakes the runtime's driver-to-network
    // pump. Does nothing before registration.
    void output_ready();
    // The application can take more input: wakes the network-to-driver pump.
    void input_space();

    bool registered() const;
    bool app_exited() const;
    // Commands raised and not yet fetched.
    DWORD pending_commands() const;

    // Every call so far, oldest first; `on_call` is told of each as it ends.
    std::vector<DriverCall> calls() const;
    void set_call_observer(std::function<void(const DriverCall&)> on_call);

private:
    Result<DWORD> do_register(const void* in);
    DWORD do_read(const vxdParam& p);
    DWORD do_write(const vxdParam& p);
    DWORD do_subfunction(const vxdParam& p);
    bool signal_ring0(DWORD ring0); // false when no such event exists
    // Signals the command event: `ring0`, else the one the runtime
    // published. True when a runtime was there to take the command.
    bool signal_command_event(bool registered, DWORD ring0);
    // Signals one of the runtime's events; nothing before registration.
    void signal_registered(DWORD vxdInitParam::*event);
    void record(const DriverCall& call);

    std::shared_ptr<AppSide> m_app;
    const DriverOptions m_options;

    mutable std::mutex m_lock;
    bool m_registered = false;     // guarded by m_lock
    bool m_app_exit = false;       // guarded by m_lock
    DWORD m_pending = 0;           // command bits not yet fetched; guarded
    vxdInitParam m_init{};         // the runtime's window and events; guarded
    std::vector<DriverCall> m_calls; // guarded
    std::function<void(const DriverCall&)> m_on_call; // guarded
};

// Makes a driver reachable as "\\.\KOLMVX.VXD" for the life of the object.
class DriverInstallation {
public:
    explicit DriverInstallation(std::shared_ptr<PortDriver> driver);
    ~DriverInstallation();
    DriverInstallation(const DriverInstallation&) = delete;
    DriverInstallation& operator=(const DriverInstallation&) = delete;
    bool installed() const { return m_registration.registered(); }

private:
    DeviceRegistration m_registration;
};

// Reads a REG_DWORD of the configuration key the program registered
// (RegisterRedirectedPort); 0 when absent.
DWORD read_published_value(const char* name);

} // namespace kolm::platform::portdrv
