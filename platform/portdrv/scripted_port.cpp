#include "portdrv/scripted_port.h"

#include <algorithm>
#include <cstring>

namespace kolm::platform::portdrv {

void ScriptedPort::attach(std::shared_ptr<PortDriver> driver)
{
    m_driver = driver;
    driver->set_call_observer([this](const DriverCall&) { notify(); });
}

void ScriptedPort::write(const std::string& bytes)
{
    {
        std::lock_guard lock(m_lock);
        m_output += bytes;
    }
    notify();
    if (auto d = m_driver.lock())
        d->output_ready();
}

void ScriptedPort::set_accept_per_write(size_t n)
{
    {
        std::lock_guard lock(m_lock);
        m_accept = n;
    }
    notify();
    if (auto d = m_driver.lock())
        d->input_space();
}

void ScriptedPort::raise(int command, int port)
{
    if (auto d = m_driver.lock())
        d->raise_command(command, port);
}

std::string ScriptedPort::received() const
{
    std::lock_guard lock(m_lock);
    return m_received;
}

size_t ScriptedPort::pending_output() const
{
    std::lock_guard lock(m_lock);
    return m_output.size();
}

std::vector<int> ScriptedPort::subfunctions() const
{
    std::lock_guard lock(m_lock);
    return m_subfunctions;
}

bool ScriptedPort::wait_for(const std::function<bool()>& pred, std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_lock);
    const auto end = std::chrono::steady_clock::now() + bound;
    for (;;) {
        lock.unlock();
        const bool done = pred();
        lock.lock();
        if (done)
            return true;
        // NOTE: the predicate may look at state outside the script (the
        // registry, the runtime's globals); a bounded wait re-checks it
        // even when no driver call announced the change.
        if (m_changed.wait_until(lock, std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(50)))
                == std::cv_status::timeout
            && std::chrono::steady_clock::now() >= end) {
            lock.unlock();
            return pred();
        }
    }
}

bool ScriptedPort::wait_for_subfunction(int subf, size_t count, std::chrono::milliseconds bound)
{
    return wait_for(
        [&] {
            auto s = subfunctions();
            return static_cast<size_t>(std::count(s.begin(), s.end(), subf)) >= count;
        },
        bound);
}

bool ScriptedPort::wait_for_received(size_t n, std::chrono::milliseconds bound)
{
    return wait_for([&] { return received().size() >= n; }, bound);
}

size_t ScriptedPort::take_output(char* dst, size_t max)
{
    size_t n;
    {
        std::lock_guard lock(m_lock);
        n = std::min(max, m_output.size());
        std::memcpy(dst, m_output.data(), n);
        m_output.erase(0, n);
    }
    return n;
}

size_t ScriptedPort::give_input(const char* src, size_t len)
{
    size_t n;
    {
        std::lock_guard lock(m_lock);
        n = std::min(len, m_budget);
        m_received.append(src, n);
        m_budget -= n;
    }
    return n;
}

void ScriptedPort::write_begin()
{
    std::lock_guard lock(m_lock);
    m_budget = m_accept;
}

void ScriptedPort::write_done(size_t taken, size_t left)
{
    (void)taken;
    bool more;
    {
        std::lock_guard lock(m_lock);
        more = left > 0 && m_accept > 0;
    }
    if (more) {
        if (auto d = m_driver.lock())
            d->input_space();
    }
}

void ScriptedPort::on_subfunction(int subf)
{
    std::lock_guard lock(m_lock);
    m_subfunctions.push_back(subf);
}

void ScriptedPort::notify()
{
    std::lock_guard lock(m_lock);
    m_changed.notify_all();
}

ScriptedDriver::ScriptedDriver(DriverOptions options)
{
    options.record_calls = true;
    port = std::make_shared<ScriptedPort>();
    driver = std::make_shared<PortDriver>(port, options);
    port->attach(driver);
    installation = std::make_unique<DriverInstallation>(driver);
}

} // namespace kolm::platform::portdrv
