#include "pty_rig.h"

#include "datawin.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kolm::test {

namespace {

constexpr DWORD kRing = 1024;

HANDLE new_event(bool manual = false)
{
    return CreateEventA(nullptr, manual, FALSE, nullptr);
}

// Waits for `ev` or the stop event; false on stop.
bool wait_or_stop(HANDLE ev, HANDLE stop)
{
    HANDLE both[2] = {ev, stop};
    return WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0;
}

} // namespace

PtyRig::PtyRig(PtyPortOptions options) : m_to_net_buf(kRing), m_to_net_q{kRing, 0, 0, 0, 0}
{
    // As the runtime does before it loads the driver: the driver finds a
    // runtime that has not registered yet through its published values.
    RegisterRedirectedPort(&redirectedPort);
    if (options.port_name.empty())
        options.port_name = "COM3";
    auto made = PtyPort::create(options);
    if (!made)
        throw std::runtime_error(made.error().message());
    m_port = made.value();
    platform::portdrv::DriverOptions dopt;
    dopt.path = options.path;
    m_driver = std::make_shared<platform::portdrv::PortDriver>(m_port, dopt);
    m_port->attach(m_driver);
    m_installation = std::make_unique<platform::portdrv::DriverInstallation>(m_driver);

    m_cmd = new_event();
    m_a2v = new_event();
    m_v2n = new_event();
    m_n2v = new_event();
    m_stop = new_event(true);
    m_outgoing = new_event();
    m_device = CreateFileA(KOLMVX_DEVICE_PATH, 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (m_device == INVALID_HANDLE_VALUE)
        throw std::runtime_error("driver not reachable");
    vxdInitParam init{};
    init.AppToVxDR0 = OpenVxDHandle(m_a2v);
    init.CmdEventR0 = OpenVxDHandle(m_cmd);
    init.VxDToNetEventR0 = OpenVxDHandle(m_v2n);
    init.NetToVxDEventR0 = OpenVxDHandle(m_n2v);
    DWORD out = 0, got = 0;
    if (!DeviceIoControl(m_device, DIOC_REGISTER, &init, 4, &out, sizeof out, &got, nullptr))
        throw std::runtime_error("registration refused");
    m_threads.emplace_back([this] { service_thread(); });
    m_threads.emplace_back([this] { to_net_thread(); });
    m_threads.emplace_back([this] { from_net_thread(); });
}

PtyRig::~PtyRig()
{
    SetEvent(m_stop);
    for (auto& t : m_threads)
        t.join();
    m_port->stop();
    m_installation.reset();
    CloseHandle(m_device);
    for (HANDLE h : {m_cmd, m_a2v, m_v2n, m_n2v, m_stop, m_outgoing})
        CloseHandle(h);
}

DWORD PtyRig::call(DWORD code, vxdParam& p)
{
    DWORD out = 0, got = 0;
    if (!DeviceIoControl(m_device, code, &p, sizeof p, &out, sizeof out, &got, nullptr))
        return 0;
    return code == DIOC_SUBF ? out : got;
}

void PtyRig::subf(int code)
{
    vxdParam p{};
    p.subfunction = static_cast<unsigned char>(code);
    call(DIOC_SUBF, p);
}

void PtyRig::changed()
{
    std::lock_guard lock(m_lock);
    m_changed.notify_all();
}

// The runtime's command service, reduced to what the driver can see: the
// bits handled in its fixed order and the answers it sends.
void PtyRig::service_thread()
{
    while (wait_or_stop(m_cmd, m_stop)) {
        vxdParam p{};
        p.subfunction = SUBF_GET_COMMANDS;
        const DWORD bits = call(DIOC_SUBF, p);
        for (int code : {CMD_PREP, CMD_DISC, CMD_DTR_LOW, CMD_FLUSH_TO_NET, CMD_FLUSH_FROM_NET}) {
            if (!(bits & (1u << code)))
                continue;
            int answer = 0;
            std::function<void()> flush_hook;
            {
                std::lock_guard lock(m_lock);
                m_commands.push_back(code);
                if (code == CMD_FLUSH_TO_NET)
                    flush_hook = m_flush_hook;
                if (code == CMD_PREP) {
                    answer = prep_answer.load();
                    m_connected = answer == SUBF_CONNECTED;
                } else if (code == CMD_DISC) {
                    m_connected = false;
                    m_net_at_disc = m_net_received.size();
                    answer = SUBF_DISC_DONE;
                } else if (code == CMD_DTR_LOW && m_connected && dtr_closes.load()) {
                    m_connected = false;
                    answer = SUBF_NET_CLOSED;
                }
            }
            if (flush_hook) {
                flush_hook();
                {
                    std::lock_guard queue_lock(m_to_net_lock);
                    m_to_net_q.count = m_to_net_q.head = m_to_net_q.tail = 0;
                }
                std::lock_guard lock(m_lock);
                ++m_to_net_flushes;
            }
            if (answer == SUBF_CONNECTED)
                SetEvent(m_a2v);
            if (answer)
                subf(answer);
            changed();
        }
    }
}

// Driver to network: one pass drains everything that can move.
void PtyRig::to_net_thread()
{
    while (wait_or_stop(m_v2n, m_stop))
        pump_to_net();
}

void PtyRig::pump_to_net()
{
    std::lock_guard queue_lock(m_to_net_lock);
    AppyQ& q = m_to_net_q;
    vxdParam p{};
    p.buf = kolm_ptr32_from(m_to_net_buf.data());
    p.q = kolm_ptr32_from(&q);
    for (;;) {
        const bool was_empty = q.count == 0;
        const DWORD nread = q.count < q.size - 1 ? call(DIOC_READ, p) : 0;
        if (was_empty && nread > 0 && q.head + q.count > q.size) {
            std::lock_guard lock(m_lock);
            ++m_split_reads;
        }
        size_t nwrite = 0;
        if (m_net_open.load() && q.count > 0) {
            std::lock_guard lock(m_lock);
            while (q.count > 0) {
                m_net_received.push_back(m_to_net_buf[q.head]);
                q.head = (q.head + 1) % q.size;
                --q.count;
                ++nwrite;
            }
            m_changed.notify_all();
        }
        if (nread == 0 && nwrite == 0)
            break;
    }
}

void PtyRig::on_flush_to_net(std::function<void()> hook)
{
    std::lock_guard lock(m_lock);
    m_flush_hook = std::move(hook);
}

int PtyRig::split_reads() const
{
    std::lock_guard lock(m_lock);
    return m_split_reads;
}

int PtyRig::to_net_flushes() const
{
    std::lock_guard lock(m_lock);
    return m_to_net_flushes;
}

size_t PtyRig::to_net_queued() const
{
    std::lock_guard lock(m_to_net_lock);
    return m_to_net_q.count;
}

// Network to driver: offers fromNetQ, and waits for room while the driver
// leaves bytes in it.
void PtyRig::from_net_thread()
{
    std::vector<char> ring(kRing);
    AppyQ q{kRing, 0, 0, 0, 0};
    vxdParam p{};
    p.buf = kolm_ptr32_from(ring.data());
    p.q = kolm_ptr32_from(&q);
    for (;;) {
        {
            std::lock_guard lock(m_lock);
            size_t moved = 0;
            while (q.count < q.size - 1 && moved < m_net_outgoing.size()) {
                ring[q.tail] = m_net_outgoing[moved++];
                q.tail = (q.tail + 1) % q.size;
                ++q.count;
            }
            m_net_outgoing.erase(0, moved);
            m_in_ring = q.count;
        }
        if (q.count > 0) {
            call(DIOC_WRITE, p);
            const bool left = q.count > 0;
            {
                std::lock_guard lock(m_lock);
                m_in_ring = q.count;
                if (left)
                    ++m_input_waits;
                m_waiting_for_room = left;
                m_changed.notify_all();
            }
            if (left && !wait_or_stop(m_n2v, m_stop))
                return;
            {
                std::lock_guard lock(m_lock);
                m_waiting_for_room = false;
            }
            continue;
        }
        bool close_now;
        {
            std::lock_guard lock(m_lock);
            close_now = m_close_after_send && m_net_outgoing.empty();
            if (close_now)
                m_close_after_send = false;
        }
        if (close_now) {
            subf(SUBF_NET_CLOSED);
            std::lock_guard lock(m_lock);
            m_writes_at_close = m_port->input_writes();
            m_changed.notify_all();
        }
        if (!wait_or_stop(m_outgoing, m_stop))
            return;
    }
}

void PtyRig::send_then_close(const std::string& bytes)
{
    queue(bytes, true);
}

size_t PtyRig::input_writes_at_close() const
{
    std::lock_guard lock(m_lock);
    return m_writes_at_close;
}

void PtyRig::send(const std::string& bytes)
{
    queue(bytes, false);
}

// The bytes and the close after them are set under one lock, so the pump
// cannot see the close before the bytes.
void PtyRig::queue(const std::string& bytes, bool close_after)
{
    {
        std::lock_guard lock(m_lock);
        m_net_outgoing += bytes;
        m_close_after_send = m_close_after_send || close_after;
    }
    SetEvent(m_outgoing);
}

void PtyRig::set_net_open(bool open)
{
    m_net_open.store(open);
    if (open)
        SetEvent(m_v2n);
}

std::string PtyRig::net_received() const
{
    std::lock_guard lock(m_lock);
    return m_net_received;
}

std::vector<int> PtyRig::commands() const
{
    std::lock_guard lock(m_lock);
    return m_commands;
}

int PtyRig::count(int code) const
{
    std::lock_guard lock(m_lock);
    int n = 0;
    for (int c : m_commands)
        n += c == code;
    return n;
}

size_t PtyRig::input_waits() const
{
    std::lock_guard lock(m_lock);
    return m_input_waits;
}

bool PtyRig::waiting_for_room() const
{
    std::lock_guard lock(m_lock);
    return m_waiting_for_room;
}

size_t PtyRig::from_net_pending() const
{
    std::lock_guard lock(m_lock);
    return m_net_outgoing.size() + m_in_ring;
}

size_t PtyRig::net_at_last_disc() const
{
    std::lock_guard lock(m_lock);
    return m_net_at_disc;
}

bool PtyRig::wait_for(const std::function<bool()>& pred, std::chrono::milliseconds bound)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(m_lock);
    for (;;) {
        lock.unlock();
        if (pred())
            return true;
        lock.lock();
        // NOTE: some conditions (the port's own counters) change without
        // the rig hearing of it; they are re-checked every few ms.
        m_changed.wait_for(lock, std::chrono::milliseconds(5));
        if (std::chrono::steady_clock::now() > end) {
            lock.unlock();
            return pred();
        }
    }
}

App::App(const std::string& path, int flags)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | flags);
}

App::~App()
{
    close();
}

void App::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool App::write_all(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_fd, POLLOUT, 0};
            if (::poll(&p, 1, static_cast<int>(kBound.count())) <= 0)
                return false;
            continue;
        }
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string App::read_exact(size_t n, std::chrono::milliseconds bound)
{
    std::string out;
    std::vector<char> buf(65536);
    while (out.size() < n) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0)
            break;
        const ssize_t got = ::read(m_fd, buf.data(), std::min(buf.size(), n - out.size()));
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            break;
        out.append(buf.data(), static_cast<size_t>(got));
    }
    return out;
}

bool App::wait_hangup(std::chrono::milliseconds bound)
{
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0 || !(p.revents & POLLHUP))
        return false;
    char c;
    const ssize_t n = ::read(m_fd, &c, 1);
    return n == 0 || (n < 0 && errno == EIO);
}

bool App::readable_now()
{
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

std::string pattern(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

} // namespace kolm::test
