// A process with one window, for the cross-process tests: it answers the
// messages of peer_protocol.h. Arguments: CLASS TITLE. It prints
// "ready 0x%08X MAILBOX" with its window handle once the window exists.
#include "peer_protocol.h"

#include "user/mailbox.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

bool g_inside_early = false;
int g_posted = 0;
// The peer's window also answers a few list-box messages, so the
// marshalling of their texts and buffers can be tested end to end.
std::vector<std::string> g_items;

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
    case LB_ADDSTRING:
        g_items.emplace_back(reinterpret_cast<const char*>(lparam));
        return static_cast<LRESULT>(g_items.size() - 1);
    case LB_GETTEXTLEN:
        return wparam < g_items.size() ? static_cast<LRESULT>(g_items[wparam].size()) : LB_ERR;
    case LB_GETTEXT:
        if (wparam >= g_items.size())
            return LB_ERR;
        std::memcpy(reinterpret_cast<char*>(lparam), g_items[wparam].c_str(), g_items[wparam].size() + 1);
        return static_cast<LRESULT>(g_items[wparam].size());
    case LB_FINDSTRINGEXACT:
        for (size_t i = 0; i < g_items.size(); ++i)
            if (g_items[i] == reinterpret_cast<const char*>(lparam))
                return static_cast<LRESULT>(i);
        return LB_ERR;
    case LB_GETSELITEMS: {
        // Every other item counts as selected.
        int* out = reinterpret_cast<int*>(lparam);
        LRESULT n = 0;
        for (size_t i = 0; i < g_items.size() && static_cast<WPARAM>(n) < wparam; i += 2)
            out[n++] = static_cast<int>(i);
        return n;
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
