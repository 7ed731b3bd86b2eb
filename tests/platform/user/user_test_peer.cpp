// A process with one window, for the cross-process tests: it answers the
// messages of peer_protocol.h. Arguments: CLASS TITLE. It prints
// "ready 0x%08X MAILBOX" with its window handle once the window exists.
#include "peer_protocol.h"

#include "user/mailbox.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

bool g_inside_early = false;
int g_posted = 0;

LRESULT CALLBACK PeerProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case peer::add:
        return static_cast<LRESULT>(wparam) + lparam;
    case peer::take_text: {
        const char* text = reinterpret_cast<const char*>(lparam);
        if (!text)
            return -1;
        std::string shown = std::string("got:") + text;
        SetWindowTextA(hwnd, shown.c_str());
        return static_cast<LRESULT>(std::strlen(text));
    }
    case peer::reply_early: {
        ReplyMessage(static_cast<LRESULT>(wparam));
        g_inside_early = true;
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0) {
            if (m.message == peer::finish)
                break;
            DispatchMessageA(&m);
        }
        g_inside_early = false;
        return 999;
    }
    case peer::inside_early:
        return g_inside_early ? 1 : 0;
    case peer::count_post:
        ++g_posted;
        PostMessageA(reinterpret_cast<HWND>(lparam), peer::posted_ack, wparam, g_posted);
        return 0;
    case peer::call_back:
        return SendMessageA(reinterpret_cast<HWND>(wparam), peer::add, 5, 6) + 100;
    case peer::die:
        ::_exit(3);
    case peer::exit_now:
        std::exit(peer::exit_now_code);
    case peer::reply_then_exit:
        ReplyMessage(static_cast<LRESULT>(wparam));
        std::exit(peer::exit_now_code);
    case WM_DESTROY:
        PostQuitMessage(peer::exit_code);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: user_test_peer CLASS TITLE\n");
        return 2;
    }
    WNDCLASSA wc {};
    wc.lpfnWndProc = PeerProc;
    wc.lpszClassName = argv[1];
    if (!RegisterClassA(&wc))
        return 2;
    HWND hwnd = CreateWindowExA(0, argv[1], argv[2], WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    if (!hwnd)
        return 2;
    // The mailbox path is there for the tests' failure messages.
    auto mailbox = kolm::platform::mailbox_socket_path();
    std::printf("ready 0x%08X %s\n", HandleToDword(hwnd), mailbox ? mailbox->c_str() : "(no mailbox)");
    std::fflush(stdout);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return static_cast<int>(m.wParam);
}
