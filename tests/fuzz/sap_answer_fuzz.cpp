// A SAP answer datagram, as a server on the segment would send it, read by
// nwParseData in lookup mode and in poll mode (filling a list box).
//
// The answer arrives on a real IPX socket at 0x0452 of a private segment,
// followed by a datagram too large for the 500-byte receive buffer: its
// receive fails, which ends nwParseData's reading at once instead of after
// the second of silence it would otherwise wait for.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "machine_env.h"
#include "nwservi.h"

namespace {

const int kList = 100;

struct Segment {
    kolm::test::TempRoot root;
    SOCKET sap = INVALID_SOCKET;    // bound to 0x0452, non-blocking
    SOCKET sender = INVALID_SOCKET; // sends to it
    sockaddr_ipx to{};
    HWND dialog = nullptr;

    Segment()
    {
        kolm::test::use_private_ipx_segment();
        WSADATA wd;
        FUZZ_CHECK(WSAStartup(MAKEWORD(1, 1), &wd) == 0, "WSAStartup");
        sap = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
        sender = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
        sockaddr_ipx local{};
        local.sa_family = AF_IPX;
        local.sa_socket = htons(SAP_SOCKET);
        FUZZ_CHECK(sap != INVALID_SOCKET && sender != INVALID_SOCKET
                       && bind(sap, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0,
                   "the SAP socket");
        int len = sizeof to;
        FUZZ_CHECK(getsockname(sap, reinterpret_cast<sockaddr*>(&to), &len) == 0, "getsockname");
        u_long on = 1;
        ioctlsocket(sap, FIONBIO, &on);

        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "SapFuzzDialog";
        RegisterClassA(&wc);
        dialog = CreateWindowExA(0, "SapFuzzDialog", "poll", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr,
                                 nullptr, nullptr);
        CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_NOTIFY, 0, 0, 100, 100, dialog,
                        reinterpret_cast<HMENU>(static_cast<intptr_t>(kList)), nullptr, nullptr);
    }

    // Bytes queued on the SAP socket.
    u_long waiting()
    {
        u_long n = 0;
        ioctlsocket(sap, FIONREAD, &n);
        return n;
    }

    void send(const uint8_t* data, size_t size)
    {
        sendto(sender, reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    void drain()
    {
        char buf[600];
        while (recv(sap, buf, sizeof buf, 0) != SOCKET_ERROR || WSAGetLastError() == WSAEMSGSIZE) {
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Segment seg;
    if (size < 1 || size - 1 > 500)
        return 0; // the whole answer must fit the receive buffer to be read
    const bool lookup = data[0] & 1;
    static const uint8_t kTooLarge[520] = {};
    seg.send(data + 1, size - 1);
    seg.send(kTooLarge, sizeof kTooLarge);
    // Both are queued once the station's receiver thread has handed them on.
    const u_long expected = static_cast<u_long>(size - 1 + sizeof kTooLarge);
    fd_set rd;
    while (seg.waiting() < expected) {
        FD_ZERO(&rd);
        FD_SET(seg.sap, &rd);
        timeval tv{0, 1000};
        select(0, &rd, nullptr, nullptr, &tv);
    }
    if (lookup) {
        char name[SAP_NAME_LEN + 1] = "PRINTSRV";
        sockaddr_ipx addr{};
        int found = 0;
        nwParseData(static_cast<unsigned>(seg.sap), nullptr, 0, name, &addr, &found);
    } else {
        SendDlgItemMessageA(seg.dialog, kList, LB_RESETCONTENT, 0, 0);
        nwParseData(static_cast<unsigned>(seg.sap), seg.dialog, kList, nullptr, nullptr, nullptr);
        const LRESULT n = SendDlgItemMessageA(seg.dialog, kList, LB_GETCOUNT, 0, 0);
        FUZZ_CHECK(n >= 0 && n <= SAP_MAX_ENTRIES, "more servers listed than one answer holds");
    }
    seg.drain();
    return 0;
}
