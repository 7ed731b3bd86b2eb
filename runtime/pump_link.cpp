#include "pump_link.h"

#include <mutex>

#include "iface32_pump.h"
#include "shared.h"

namespace {

const DWORD kPumpStack = 0x500;

std::mutex g_link_lock;
std::shared_ptr<PumpLink> g_current; // guarded by g_link_lock
std::atomic<unsigned> g_connection{0};

} // namespace

PumpLink::PumpLink(unsigned connection, SOCKET s)
    : id(connection), sock(s), m_off_socket(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

PumpLink::~PumpLink()
{
    if (m_off_socket)
        CloseHandle(m_off_socket);
}

void PumpLink::leave_socket()
{
    if (m_on_socket.fetch_sub(1) == 1 && m_off_socket)
        SetEvent(m_off_socket);
}

void PumpLink::await_off_socket() const
{
    if (m_off_socket)
        WaitForSingleObject(m_off_socket, INFINITE);
}

bool PumpLink::hold_close()
{
    int expected = Opening;
    return m_setup.compare_exchange_strong(expected, CloseHeld);
}

bool PumpLink::reported_up()
{
    return m_setup.exchange(Up) == CloseHeld;
}

void begin_connection()
{
    g_connection.fetch_add(1);
}

bool start_pumps(SOCKET sock)
{
    auto link = std::make_shared<PumpLink>(g_connection.load(), sock);
    {
        std::lock_guard lock(g_link_lock);
        g_current = link;
    }
    bool started = true;
    for (LPTHREAD_START_ROUTINE pump : {VxDToNetThread, NetToVxDThread}) {
        // Each thread owns one reference, handed over in its parameter.
        auto* param = new std::shared_ptr<PumpLink>(link);
        // No thread id is asked for: nothing uses it, and the pump can
        // start without this thread waiting until it runs.
        HANDLE h = CreateThread(nullptr, kPumpStack, pump, param, 0, nullptr);
        if (h) {
            CloseHandle(h);
            continue;
        }
        delete param;
        link->leave_socket();
        started = false;
    }
    return started;
}

std::shared_ptr<PumpLink> current_link()
{
    std::lock_guard lock(g_link_lock);
    return g_current;
}

std::shared_ptr<PumpLink> take_link(LPVOID param)
{
    auto* box = static_cast<std::shared_ptr<PumpLink>*>(param);
    std::shared_ptr<PumpLink> link = std::move(*box);
    delete box;
    return link;
}

unsigned current_connection()
{
    return g_connection.load();
}

bool connection_is(unsigned id)
{
    return online() && current_connection() == id;
}
