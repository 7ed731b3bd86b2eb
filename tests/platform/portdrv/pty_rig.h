// A pty port with its driver, driven the way the runtime drives it: the
// device opened with CreateFileA and registered with four events and their
// ring-0 handles, a service thread that fetches and answers commands, and
// the two pump threads moving bytes through 1024-byte rings with
// DIOC_READ / DIOC_WRITE. The "network" is a pair of byte strings.
// Applications are plain file descriptors on the published link.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "portdrv/port_driver.h"
#include "portdrv/pty_port.h"
#include "test_support.h"
#include "win32.h"

namespace kolm::test {

using platform::portdrv::PtyPort;
using platform::portdrv::PtyPortOptions;

constexpr std::chrono::milliseconds kBound{20000};

class PtyRig {
public:
    explicit PtyRig(PtyPortOptions options = {});
    ~PtyRig();

    PtyPort& port() { return *m_port; }
    std::string link() const { return m_port->link_path().string(); }

    // How the runtime answers: Prep with this sub-function (0: not at all);
    // DTRLow while
    // connected with SUBF_NET_CLOSED when `dtr_closes`.
    std::atomic<int> prep_answer{SUBF_CONNECTED};
    std::atomic<bool> dtr_closes{true};

    // DIOC_SUBF from the test, as a pump thread's VxDClose would send it.
    void subf(int code);
    // Bytes arriving from the network for the application.
    void send(const std::string& bytes);
    // Bytes arriving with the network's close: the network-to-driver pump
    // hands them over and reports SUBF_NET_CLOSED next, without waiting
    // between, as the runtime's pump does when a receive meets the close.
    void send_then_close(const std::string& bytes);
    // Writes into the pty the port had made when that close was reported;
    // SIZE_MAX until it was.
    size_t input_writes_at_close() const;
    // While closed, the network takes nothing from toNetQ (a slow far end).
    void set_net_open(bool open);

    // Runs on the service thread when it handles FlushToNet; the rig then
    // empties its to-network queue, as the runtime's flush does. Without a
    // hook FlushToNet is only recorded.
    void on_flush_to_net(std::function<void()> hook);
    // One pass of the driver-to-network pump, as the pump thread makes it.
    void pump_to_net();
    size_t to_net_queued() const; // bytes read from the driver, not yet sent
    int to_net_flushes() const;   // times the hook ran and the queue was emptied
    int split_reads() const;      // DIOC_READs into an empty queue that ran round its end

    std::string net_received() const;
    std::vector<int> commands() const; // in the order the runtime handled them
    int count(int code) const;
    size_t input_waits() const;      // times the network-to-driver pump waited for room
    bool waiting_for_room() const;   // it is waiting now
    size_t from_net_pending() const; // bytes sent and not yet taken by the driver
    size_t net_at_last_disc() const; // bytes the network had received when Disc was handled

    // Waits (up to `bound`) until `pred` holds; re-checked at every change
    // of the rig's state.
    bool wait_for(const std::function<bool()>& pred, std::chrono::milliseconds bound = kBound);
    bool wait_command(int code, int n = 1) { return wait_for([&] { return count(code) >= n; }); }
    // The n-th Prep was handled and the port has heard that it connected.
    bool wait_session(int n = 1)
    {
        return wait_for([&] { return count(CMD_PREP) >= n && m_port->connected(); });
    }

private:
    void service_thread();
    void to_net_thread();
    void from_net_thread();
    DWORD call(DWORD code, vxdParam& p);
    void queue(const std::string& bytes, bool close_after);
    void changed();

    TempRoot m_root;
    std::shared_ptr<PtyPort> m_port;
    std::shared_ptr<platform::portdrv::PortDriver> m_driver;
    std::unique_ptr<platform::portdrv::DriverInstallation> m_installation;

    HANDLE m_device = nullptr;
    HANDLE m_cmd = nullptr, m_a2v = nullptr, m_v2n = nullptr, m_n2v = nullptr;
    HANDLE m_stop = nullptr;     // manual reset: every thread ends
    HANDLE m_outgoing = nullptr; // test queued bytes for the network-to-driver pump
    std::vector<std::thread> m_threads;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<int> m_commands;    // guarded
    std::string m_net_received;     // guarded
    std::string m_net_outgoing;     // guarded
    size_t m_in_ring = 0;           // bytes in fromNetQ; guarded
    size_t m_input_waits = 0;       // guarded
    bool m_waiting_for_room = false; // guarded
    size_t m_net_at_disc = 0;       // guarded
    bool m_close_after_send = false; // guarded
    size_t m_writes_at_close = SIZE_MAX; // guarded
    bool m_connected = false;       // guarded
    std::atomic<bool> m_net_open{true};
    std::function<void()> m_flush_hook; // guarded by m_lock
    int m_to_net_flushes = 0;           // guarded by m_lock
    int m_split_reads = 0;              // guarded by m_lock

    // The pump's toNetQ, shared with the flush as the runtime's is.
    mutable std::mutex m_to_net_lock;
    std::vector<char> m_to_net_buf;  // guarded by m_to_net_lock
    AppyQ m_to_net_q{};              // guarded by m_to_net_lock
};

// An application holding the port open.
class App {
public:
    explicit App(const std::string& path, int flags = 0);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    bool ok() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool write_all(const std::string& bytes);
    // Reads exactly `n` bytes, waiting up to the bound for each piece.
    std::string read_exact(size_t n, std::chrono::milliseconds bound = kBound);
    // True when the line reports a hang-up within the bound.
    bool wait_hangup(std::chrono::milliseconds bound = kBound);
    // True when a byte is waiting right now.
    bool readable_now();
    void close();

private:
    int m_fd = -1;
};

std::string pattern(size_t n, unsigned seed);

} // namespace kolm::test
