#include "netstuff.h"

#include <atomic>

#include "data.h"

HWND hWndTimerApp = nullptr;
HINSTANCE hTimerApp = nullptr;
int redir_online = 0;

void InitDLLTimer(HWND hwnd, HINSTANCE hinst)
{
    std::atomic_ref<HWND>(hWndTimerApp).store(hwnd);
    hTimerApp = hinst;
}

char* getCurServi()
{
    const int cur = ports[0].curServ;
    if (cur < 0 || cur >= MAX_SERVICES)
        return ports[0].serv[0].name;
    return ports[0].serv[cur].name;
}
