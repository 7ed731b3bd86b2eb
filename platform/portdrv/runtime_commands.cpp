#include "portdrv/runtime_commands.h"

#include <algorithm>

#include "portdrv/port_trace.h"

namespace kolm::platform::portdrv {

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
    if (!hand_over_again(*d)) {
        m_retry_wait = std::min(m_retry_wait * 2, std::chrono::milliseconds(1000));
        m_retry_deadline = Clock::now() + m_retry_wait;
        return;
    }
    m_retry_pending = false;
    m_unreached.clear();
}

bool RuntimeCommands::hand_over_again(PortDriver& driver)
{
    // On the event path the bits wait in the driver, and the runtime may
    // have fetched them already (it looks when it registers): the event is
    // signalled again only for bits still waiting, since raising them anew
    // would hand the runtime a second Prep. On the window path each lost
    // message is sent, once the first finds the window there.
    if (m_path == CommandPath::Event) {
        if (!driver.signal_pending_commands())
            return false;
        trace("the runtime can be reached now");
        return true;
    }
    if (m_unreached.empty())
        return true;
    if (!driver.raise_command(m_unreached.front(), 0))
        return false;
    for (size_t i = 1; i < m_unreached.size(); ++i)
        driver.raise_command(m_unreached[i], 0);
    return true;
}

} // namespace kolm::platform::portdrv
