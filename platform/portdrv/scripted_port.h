// A scripted application side for tests: a test raises the commands an
// application would cause, delivers the bytes it would write, decides how
// much input it takes per write call, and reads back what it was given.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "portdrv/port_driver.h"

namespace kolm::platform::portdrv {

class ScriptedPort final : public AppSide {
public:
    ScriptedPort() = default;

    // Connects the script to its driver (the driver is made with this port
    // as its application side, then attached here).
    void attach(std::shared_ptr<PortDriver> driver);

    // The application writes: the bytes wait for the runtime's DIOC_READ,
    // and the runtime's pump is woken.
    void write(const std::string& bytes);
    // How many bytes the application takes per DIOC_WRITE (SIZE_MAX: all;
    // 0: it reads nothing until this is raised again). While it takes
    // something, it can take more at once after each call, so the driver
    // signals the runtime's network-to-driver pump after a partial write.
    void set_accept_per_write(size_t n);
    void raise(int command, int port = 0);

    // What the application has been given, and what it wrote that the
    // runtime has not fetched yet.
    std::string received() const;
    size_t pending_output() const;
    std::vector<int> subfunctions() const;

    // Waits until `pred` holds (checked on every driver call and every
    // change of the script), up to `bound`.
    bool wait_for(const std::function<bool()>& pred,
                  std::chrono::milliseconds bound = std::chrono::seconds(20));
    // Waits until the runtime has sent sub-function `subf` `count` times.
    bool wait_for_subfunction(int subf, size_t count = 1,
                              std::chrono::milliseconds bound = std::chrono::seconds(20));
    // Waits until `n` bytes in all have been given to the application.
    bool wait_for_received(size_t n, std::chrono::milliseconds bound = std::chrono::seconds(20));

    size_t take_output(char* dst, size_t max) override;
    size_t give_input(const char* src, size_t len) override;
    void on_subfunction(int subf) override;
    void write_begin() override;
    void write_done(size_t taken, size_t left) override;

    // Called by the driver's call observer: wakes waiters.
    void notify();

private:
    std::weak_ptr<PortDriver> m_driver;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::string m_output;   // written by the application, not yet fetched
    std::string m_received; // given to the application
    std::vector<int> m_subfunctions;
    size_t m_accept = static_cast<size_t>(-1); // per DIOC_WRITE
    size_t m_budget = 0;                        // left in the current call
};

// A scripted driver ready for a test: the port, its driver (recording every
// call) and the device registration, for the life of the object.
struct ScriptedDriver {
    explicit ScriptedDriver(DriverOptions options = {});
    std::shared_ptr<ScriptedPort> port;
    std::shared_ptr<PortDriver> driver;
    std::unique_ptr<DriverInstallation> installation;
};

} // namespace kolm::platform::portdrv
