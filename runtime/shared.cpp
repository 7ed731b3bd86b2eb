// The runtime's shared values and the single atomic steps that reach them
// (shared.h says who writes and reads each).
#include "shared.h"

#include <atomic>

HANDLE hDevice = 0;
HWND myhWnd = nullptr;
HANDLE CmdEventR3, AppToVxDR3, VxDToNetEventR3, NetToVxDEventR3;
DWORD CmdEventR0, AppToVxDR0, VxDToNetEventR0, NetToVxDEventR0;
OPENVXDHANDLE pOpenVxDHandle = nullptr;
signed char sockState = 0;

char toNetBuffer[QUEUE_SIZE];
char fromNetBuffer[QUEUE_SIZE];
char* toNetBf = toNetBuffer;
char* fromNetBf = fromNetBuffer;
AppyQ toNetQ;
AppyQ fromNetQ;
const AppyQ initQ = {QUEUE_SIZE, 0, 0, 0, 0};

HWND hWndTimerApp = nullptr;
HINSTANCE hTimerApp = nullptr;
int redir_online = 0;
char wsockInitted = 0;
int lasterror = 0;

HWND hNoticeBox = nullptr;
HWND hActiveBefore = nullptr;
char oldnotice[NOTICE_TEXT_LEN];
DWORD oldnoticetime = 0;
int last_counter = 0;
unsigned char Notice_send_counter = 0;

HANDLE device()
{
    return std::atomic_ref<HANDLE>(hDevice).load();
}

void set_device(HANDLE h)
{
    std::atomic_ref<HANDLE>(hDevice).store(h);
}

signed char sock_state()
{
    return std::atomic_ref<signed char>(sockState).load();
}

void set_sock_state(signed char v)
{
    std::atomic_ref<signed char>(sockState).store(v);
}

int online()
{
    return std::atomic_ref<int>(redir_online).load();
}

void set_online(int v)
{
    std::atomic_ref<int>(redir_online).store(v);
}

HWND timer_app_window()
{
    return std::atomic_ref<HWND>(hWndTimerApp).load();
}

void set_timer_app_window(HWND h)
{
    std::atomic_ref<HWND>(hWndTimerApp).store(h);
}

unsigned char next_notice_number()
{
    return static_cast<unsigned char>(std::atomic_ref<unsigned char>(Notice_send_counter).fetch_add(1) + 1);
}

int swap_last_error(int err)
{
    return std::atomic_ref<int>(lasterror).exchange(err);
}

signed char port_state()
{
    return std::atomic_ref<signed char>(ports[0].state).load();
}

void set_port_state(signed char v)
{
    std::atomic_ref<signed char>(ports[0].state).store(v);
}

bool close_port_state()
{
    return std::atomic_ref<signed char>(ports[0].state).exchange(PORT_NET_CLOSED) != PORT_NET_CLOSED;
}

unsigned port_socket()
{
    return std::atomic_ref<DWORD>(ports[0].socket).load();
}

void set_port_socket(unsigned s)
{
    std::atomic_ref<DWORD>(ports[0].socket).store(s);
}

signed char cur_serv()
{
    return std::atomic_ref<signed char>(ports[0].curServ).load();
}

void set_cur_serv(signed char v)
{
    std::atomic_ref<signed char>(ports[0].curServ).store(v);
}

void reset_port()
{
    clear_port_record(&ports[0]);
}
