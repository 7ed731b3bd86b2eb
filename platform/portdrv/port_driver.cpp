#include "portdrv/port_driver.h"

#include "internal/thread_plug.h"

#include <cstring>

#include "kernel/sync.h"
#include "portdrv/port_identity.h"
#include "win32.h"

namespace kolm::platform::portdrv {

namespace {

// An open handle of the driver: every handle reaches the same driver.
class DriverHandle final : public DeviceObject {
public:
    explicit DriverHandle(std::shared_ptr<PortDriver> driver) : m_driver(std::move(driver)) {}
    Result<DWORD> ioctl(DWORD code, const void* in, DWORD in_len, void* out, DWORD out_len) override
    {
        return m_driver->ioctl(code, in, in_len, out, out_len);
    }

private:
    std::shared_ptr<PortDriver> m_driver;
};

// The ring storage and descriptor a read or write call names; null when the
// block does not name a usable ring.
struct Ring {
    char* buf = nullptr;
    AppyQ* q = nullptr;
    explicit operator bool() const { return buf && q && q->size > 1 && q->head < q->size && q->tail < q->size; }
};

Ring ring_of(const vxdParam& p)
{
    return Ring{static_cast<char*>(kolm_ptr32_to(p.buf)), static_cast<AppyQ*>(kolm_ptr32_to(p.q))};
}

} // namespace

DWORD read_published_value(const char* name)
{
    const RedirectedPortInfo* port = redirected_port_info();
    HKEY key;
    if (!port || !port->configKey || RegOpenKeyExA(HKEY_LOCAL_MACHINE, port->configKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS
        || type != REG_DWORD)
        value = 0;
    RegCloseKey(key);
    return value;
}

PortDriver::PortDriver(std::shared_ptr<AppSide> app, DriverOptions options)
    : m_app(std::move(app)), m_options(options)
{
}

Result<DWORD> PortDriver::ioctl(DWORD code, const void* in, DWORD in_len, void* out, DWORD out_len)
{
    DriverCall call;
    call.code = code;
    // Network bytes this thread handed over are in the pty before anything
    // else it tells the driver: a pump that met the far end's close right
    // after its last bytes reports the close next, without waiting between.
    if (code != DIOC_WRITE)
        sys::unplug();
    Result<DWORD> result = Win32Error{ERROR_INVALID_FUNCTION};
    if (code == DIOC_REGISTER) {
        result = in ? do_register(in) : Result<DWORD>(Win32Error{ERROR_INVALID_PARAMETER});
    } else if (code == DIOC_READ || code == DIOC_WRITE || code == DIOC_SUBF) {
        if (!in || in_len < sizeof(vxdParam)) {
            result = Win32Error{ERROR_INVALID_PARAMETER};
        } else {
            vxdParam p;
            std::memcpy(&p, in, sizeof p);
            call.port = p.portNumber;
            if (code == DIOC_SUBF) {
                call.subfunction = p.subfunction;
                const DWORD word = do_subfunction(p);
                if (out && out_len >= sizeof(DWORD))
                    std::memcpy(out, &word, sizeof word);
                result = DWORD{sizeof(DWORD)};
                call.result = word;
            } else if (!ring_of(p)) {
                result = Win32Error{ERROR_INVALID_PARAMETER};
            } else {
                result = code == DIOC_READ ? do_read(p) : do_write(p);
            }
        }
    }
    call.ok = static_cast<bool>(result);
    if (call.ok && code != DIOC_SUBF)
        call.result = result.value();
    record(call);
    return result;
}

Result<DWORD> PortDriver::do_register(const void* in)
{
    // The block is read whole through its address although the runtime
    // passes 4 as its length.
    vxdInitParam init;
    std::memcpy(&init, in, sizeof init);
    if (m_options.refuse_register)
        return Win32Error{ERROR_ACCESS_DENIED};
    std::lock_guard lock(m_lock);
    m_init = init;
    m_registered = true;
    m_app_exit = false;
    return DWORD{0};
}

DWORD PortDriver::do_read(const vxdParam& p)
{
    Ring r = ring_of(p);
    AppyQ* q = r.q;
    DWORD moved = 0;
    // An empty ring is filled from its start: the runtime then sends what
    // it holds in one piece, not in two around the end. (Nothing of an
    // empty ring can be on its way out, so its place does not matter.)
    if (q->count == 0)
        q->head = q->tail = 0;
    // The ring never holds more than size - 1 bytes, so head == tail means
    // empty for both sides.
    while (q->count < q->size - 1) {
        const DWORD room = q->size - 1 - q->count;
        const DWORD to_end = q->size - q->tail;
        const DWORD piece = room < to_end ? room : to_end;
        const size_t n = m_app->take_output(r.buf + q->tail, piece);
        if (n == 0)
            break;
        q->tail = (q->tail + static_cast<DWORD>(n)) % q->size;
        q->count += static_cast<DWORD>(n);
        moved += static_cast<DWORD>(n);
        if (n < piece)
            break;
    }
    m_app->read_done(moved);
    return moved;
}

DWORD PortDriver::do_write(const vxdParam& p)
{
    Ring r = ring_of(p);
    AppyQ* q = r.q;
    DWORD moved = 0;
    m_app->write_begin();
    if (q->count > 0) {
        const DWORD to_end = q->size - q->head;
        const DWORD first = q->count < to_end ? q->count : to_end;
        const size_t n = m_app->give_input_pieces(r.buf + q->head, first, r.buf, q->count - first);
        q->head = (q->head + static_cast<DWORD>(n)) % q->size;
        q->count -= static_cast<DWORD>(n);
        moved = static_cast<DWORD>(n);
    }
    m_app->write_done(moved, q->count);
    return moved;
}

DWORD PortDriver::do_subfunction(const vxdParam& p)
{
    const int subf = p.subfunction;
    if (subf == SUBF_GET_COMMANDS) {
        DWORD bits = 0;
        {
            std::lock_guard lock(m_lock);
            bits = m_pending;
            m_pending = 0;
        }
        m_app->commands_fetched(bits);
        return bits;
    }
    if (subf == SUBF_APP_EXIT) {
        std::lock_guard lock(m_lock);
        m_app_exit = true;
        m_registered = false;
    }
    m_app->on_subfunction(subf);
    return 0;
}

bool PortDriver::signal_ring0(DWORD ring0)
{
    auto ev = event_from_ring0(ring0);
    if (ev)
        ev->set();
    return ev != nullptr;
}

bool PortDriver::raise_command(int code, int port)
{
    bool registered = false;
    if (m_options.path == CommandPath::Window) {
        HWND target = nullptr;
        {
            std::lock_guard lock(m_lock);
            registered = m_registered;
            if (registered)
                target = DwordToHandle<HWND>(m_init.hwnd);
        }
        if (!target)
            target = DwordToHandle<HWND>(read_published_value("HWND"));
        const bool there = registered || IsWindow(target);
        if (target)
            PostMessageA(target, WM_COMMAND, ID_DRIVER_CMD, static_cast<LPARAM>((port & 0xFF) * 256 + (code & 0xFF)));
        return there;
    }
    DWORD ring0 = 0;
    {
        std::lock_guard lock(m_lock);
        m_pending |= 1u << (code & 7);
        registered = m_registered;
        if (registered)
            ring0 = m_init.CmdEventR0;
    }
    return signal_command_event(registered, ring0);
}

bool PortDriver::signal_pending_commands()
{
    bool registered = false;
    DWORD ring0 = 0;
    {
        std::lock_guard lock(m_lock);
        if (m_pending == 0)
            return true; // a registered runtime fetched them
        registered = m_registered;
        if (registered)
            ring0 = m_init.CmdEventR0;
    }
    return signal_command_event(registered, ring0);
}

bool PortDriver::signal_command_event(bool registered, DWORD ring0)
{
    if (!ring0)
        ring0 = read_published_value("Event");
    const bool signalled = signal_ring0(ring0);
    return registered || signalled;
}

void PortDriver::signal_registered(DWORD vxdInitParam::*event)
{
    DWORD ring0 = 0;
    {
        std::lock_guard lock(m_lock);
        if (m_registered)
            ring0 = m_init.*event;
    }
    signal_ring0(ring0);
}

void PortDriver::request_fetch()
{
    signal_registered(&vxdInitParam::CmdEventR0);
}

void PortDriver::output_ready()
{
    signal_registered(&vxdInitParam::VxDToNetEventR0);
}

void PortDriver::input_space()
{
    signal_registered(&vxdInitParam::NetToVxDEventR0);
}

bool PortDriver::registered() const
{
    std::lock_guard lock(m_lock);
    return m_registered;
}

bool PortDriver::app_exited() const
{
    std::lock_guard lock(m_lock);
    return m_app_exit;
}

DWORD PortDriver::pending_commands() const
{
    std::lock_guard lock(m_lock);
    return m_pending;
}

std::vector<DriverCall> PortDriver::calls() const
{
    std::lock_guard lock(m_lock);
    return m_calls;
}

void PortDriver::set_call_observer(std::function<void(const DriverCall&)> on_call)
{
    std::lock_guard lock(m_lock);
    m_on_call = std::move(on_call);
}

void PortDriver::record(const DriverCall& call)
{
    std::function<void(const DriverCall&)> observer;
    {
        std::lock_guard lock(m_lock);
        if (m_options.record_calls)
            m_calls.push_back(call);
        observer = m_on_call;
    }
    if (observer)
        observer(call);
}

DriverInstallation::DriverInstallation(std::shared_ptr<PortDriver> driver)
    : m_registration(KOLMVX_DEVICE_NAME, [driver](const DeviceOpen&) -> Result<std::shared_ptr<DeviceObject>> {
          return std::shared_ptr<DeviceObject>(std::make_shared<DriverHandle>(driver));
      })
{
}

DriverInstallation::~DriverInstallation() = default;

} // namespace kolm::platform::portdrv
