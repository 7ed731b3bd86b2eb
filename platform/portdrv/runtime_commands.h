// Hands the port's commands (Prep, Disc, DTRLow, the flushes) to the
// runtime through its driver, and hands them again once a runtime that was
// still starting can be reached: before it registers, the driver finds its
// command event or window through the values it published, which it may
// not have written yet.
//
// Threads: the port's watcher thread only (attach() before it starts);
// driver() from any thread once attached.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "portdrv/port_driver.h"

namespace kolm::platform::portdrv {

class RuntimeCommands {
public:
    using Clock = std::chrono::steady_clock;

    explicit RuntimeCommands(CommandPath path) : m_path(path) {}
    void attach(std::weak_ptr<PortDriver> driver) { m_driver = std::move(driver); }
    std::shared_ptr<PortDriver> driver() const { return m_driver.lock(); }

    // Hands `code` over; false when nothing was raised (the runtime ended,
    // or the driver is gone).
    bool raise(int code);
    // The runtime said it is ending (SUBF_APP_EXIT): nothing is raised any
    // more.
    void runtime_ended() { m_ended = true; }
    bool ended() const { return m_ended; }

    // Commands wait for the runtime to become reachable; retry() at the
    // deadline looks again.
    bool retry_pending() const { return m_retry_pending; }
    Clock::time_point retry_deadline() const { return m_retry_deadline; }
    void retry();

private:
    // Hands what was raised unreached over again; false while no runtime
    // is there to take it.
    bool hand_over_again(PortDriver& driver);

    const CommandPath m_path; // Disc is acknowledged (SUBF_DISC_DONE) only on the event path
    std::weak_ptr<PortDriver> m_driver;
    bool m_ended = false;         // SUBF_APP_EXIT seen
    bool m_retry_pending = false; // commands raised before the runtime could be reached
    std::vector<int> m_unreached; // their codes (one is enough on the event path)
    std::chrono::milliseconds m_retry_wait{0};
    Clock::time_point m_retry_deadline{};
};

} // namespace kolm::platform::portdrv
