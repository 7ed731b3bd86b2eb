#include "portdrv/runtime_commands.h"

#include <algorithm>

#include "kernel/sync.h"
#include "portdrv/port_trace.h"
#include "win32.h"

namespace kolm::platform::portdrv {

bool RuntimeCommands::reachable(PortDriver& driver) const
{
    if (driver.registered())
        return true;
    if (m_path == CommandPath::Window)
        return IsWindow(DwordToHandle<HWND>(read_published_value("HWND")));
    return event_from_ring0(read_published_value("Event")) != nullptr;
}

bool RuntimeCommands::raise(int code)
{
    if (m_ended)
        return false;
    auto d = m_driver.lock();
    if (!d)
        return false;
    // One look at the published values tells both where the command goes
    // and whether anyone is there: they are read from the registry, on the
    // way to the runtime's first connection.
    if (d->raise_command(code, 0))
        return true;
    // The runtime has not published its command event or window yet (an
    // application opened the port while the runtime was starting): the
    // command is handed over again once it has.
    if (m_path == CommandPath::Window || m_unreached.empty())
        m_unreached.push_back(code);
    if (!m_retry_pending) {
        m_retry_pending = true;
        m_retry_wait = std::chrono::milliseconds(20);
        m_retry_deadline = Clock::now() + m_retry_wait;
    }
    return true;
}

void RuntimeCommands::retry()
{
    auto d = m_driver.lock();
    if (!d || m_ended) {
        m_retry_pending = false;
        m_unreached.clear();
        return;
    }
    if (!reachable(*d)) {
        m_retry_wait = std::min(m_retry_wait * 2, std::chrono::milliseconds(1000));
        m_retry_deadline = Clock::now() + m_retry_wait;
        return;
    }
    m_retry_pending = false;
    // On the event path the bits wait in the driver, and the runtime may
    // have fetched them already (it looks when it registers): the event is
    // signalled again only for bits still waiting, since raising them anew
    // would hand the runtime a second Prep. On the window path each lost
    // message is sent.
    if (m_path == CommandPath::Event) {
        trace("the runtime can be reached now");
        d->signal_pending_commands();
    } else {
        for (int code : m_unreached)
            d->raise_command(code, 0);
    }
    m_unreached.clear();
}

} // namespace kolm::platform::portdrv
