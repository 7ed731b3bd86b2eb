// A station of its own for the IPX tests: binds the IPX socket given in hex
// (0: a dynamic one), prints "ipx NET:NODE:SOCKET" and "ready", then
// answers every datagram to its sender with "echo:" and the data.
#include "win32.h"

int main(int argc, char** argv)
{
    WSADATA data;
    if (argc != 2 || WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return 2;
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    sockaddr_ipx me;
    memset(&me, 0, sizeof me);
    me.sa_family = AF_IPX;
    me.sa_socket = htons(static_cast<u_short>(strtoul(argv[1], nullptr, 16)));
    int len = sizeof me;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&me), sizeof me) != 0
        || getsockname(s, reinterpret_cast<sockaddr*>(&me), &len) != 0) {
        fprintf(stderr, "ipx_peer: error %d\n", WSAGetLastError());
        return 1;
    }
    const auto* n = reinterpret_cast<const unsigned char*>(me.sa_netnum);
    const auto* d = reinterpret_cast<const unsigned char*>(me.sa_nodenum);
    printf("ipx %02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X:%04X\nready\n", n[0], n[1], n[2], n[3], d[0], d[1], d[2],
           d[3], d[4], d[5], ntohs(me.sa_socket));
    fflush(stdout);
    for (;;) {
        char in[600];
        char out[600];
        sockaddr_ipx from;
        int fromlen = sizeof from;
        const int got = recvfrom(s, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &fromlen);
        // The buffer holds any datagram, so a failure means the station is gone.
        if (got < 0)
            return 1;
        memcpy(out, "echo:", 5);
        const int n_out = got + 5 > 546 ? 546 : got + 5;
        memcpy(out + 5, in, static_cast<size_t>(n_out - 5));
        sendto(s, out, n_out, 0, reinterpret_cast<sockaddr*>(&from), fromlen);
    }
}
