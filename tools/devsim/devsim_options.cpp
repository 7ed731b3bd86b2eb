#include "devsim_options.h"
#include "kolmids.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace devsim {

const kolm::ProgramHelp help = {
    "devsim",
    "devsim [--tcp PORT[,MODE]]... [--sap NAME[,SOCKET]]... [options]\n"
    "       devsim --help | --version",
    "A serial device server for tests and demonstrations: TCP channels and an\n"
    "IPX SAP responder on the segment of KOLM_IPX_IF, KOLM_IPX_GROUP and\n"
    "KOLM_IPX_NET. Prints one line per listener, then \"ready\", and runs\n"
    "until SIGINT or SIGTERM.\n"
    "\n"
    "  --tcp PORT[,MODE]    a TCP channel on PORT (0: any free port); MODE is\n"
    "                       echo (default), discard, refuse (the port is bound\n"
    "                       but not listening, so connects are refused) or\n"
    "                       close:N (echo N received bytes, then close)\n"
    "  --bind ADDR          address of the TCP channels (default 127.0.0.1)\n"
    "  --sap NAME[,SOCKET]  advertise NAME as server type 0x052C at IPX socket\n"
    "                       SOCKET (hex; default a dynamic one from 0x4000)\n"
    "  --sap-other NAME,TYPE  also an entry of server type TYPE (hex); such\n"
    "                       entries go into every answer, whatever type was asked\n"
    "  --sap-split N        at most N entries per answer datagram (1-7, default 7)\n"
    "  --sap-silent         hear queries but never answer\n"
    "  --sap-bcast-only     answer broadcast queries only, not directed ones\n"
    "  --sap-every MS       also advertise every MS milliseconds, unasked, to the\n"
    "                       whole segment (as servers do periodically)\n"
    "  --sap-net HEX        advertise this network number instead of the segment's\n"
    "  --sap-node HEX12     advertise this node instead of our own\n"
    "  --spx                SPX channels: a listener at each --sap socket +\n"
    "                       0x0800 (the SAP answers then carry the node of\n"
    "                       the SPX station)\n"
    "  --spx-mode MODE      mode of the SPX channels, as for --tcp (default\n"
    "                       echo; refuse: no listener, so connects time out)\n"
    "  --drop P, --reorder P, --duplicate P\n"
    "                       lose, reorder or duplicate P percent of the IPX\n"
    "                       packets the SPX station sends and receives\n"
    "  --seed N             seed of those faults (default 1)\n"
    "  --help               this text\n"
    "  --version            the version\n"
    "\n"
    "Answers general queries (0x0001) for type 0x052C or 0xFFFF, and nearest\n"
    "queries (0x0003) with the first entry, at socket 0x0452.\n"
    "\n"
    "Environment:\n"
    "  KOLM_IPX_IF, KOLM_IPX_GROUP, KOLM_IPX_NET\n"
    "                       the IPX segment's interface, multicast group and\n"
    "                       network number (as for kolm32)\n"
    "  KOLM_SPX_*           SPX timers and window of the SPX channels\n"
    "\n"
    "Files: none; devsim keeps nothing and needs no machine root.\n"
    "\n"
    "Exit status: 0 after SIGINT or SIGTERM, 1 when a channel cannot start, 2\n"
    "for a mistake on the command line.\n",
    KOLM_PRODUCT_ON_LINUX,
};

namespace {

bool parse_uint(const std::string& text, int base, uint64_t max, uint64_t* out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v > max || text[0] == '-' || text[0] == '+')
        return false;
    *out = v;
    return true;
}

bool parse_tcp(const std::string& arg, TcpChannel* c)
{
    const size_t comma = arg.find(',');
    uint64_t port;
    if (!parse_uint(arg.substr(0, comma), 10, 65535, &port))
        return false;
    c->port = static_cast<uint16_t>(port);
    if (comma == std::string::npos)
        return true;
    return parse_mode(arg.substr(comma + 1), c);
}

bool parse_sap(const std::string& arg, bool type_required, SapName* s)
{
    const size_t comma = arg.rfind(',');
    if (comma == std::string::npos) {
        s->name = arg;
        return !type_required && !arg.empty();
    }
    s->name = arg.substr(0, comma);
    uint64_t v;
    if (s->name.empty() || !parse_uint(arg.substr(comma + 1), 16, 0xFFFF, &v))
        return false;
    if (type_required)
        s->type = static_cast<uint16_t>(v);
    else
        s->socket = static_cast<uint16_t>(v);
    return true;
}

bool parse_node(const std::string& text, std::array<uint8_t, 6>* node)
{
    if (text.size() != 12)
        return false;
    for (size_t i = 0; i < 6; ++i) {
        uint64_t b;
        if (!parse_uint(text.substr(i * 2, 2), 16, 0xFF, &b))
            return false;
        (*node)[i] = static_cast<uint8_t>(b);
    }
    return true;
}

} // namespace

bool parse_mode(const std::string& mode, TcpChannel* c)
{
    if (mode == "echo")
        c->mode = TcpMode::echo;
    else if (mode == "discard")
        c->mode = TcpMode::discard;
    else if (mode == "refuse")
        c->mode = TcpMode::refuse;
    else if (mode.rfind("close:", 0) == 0) {
        c->mode = TcpMode::close_after;
        return parse_uint(mode.substr(6), 10, UINT64_MAX, &c->close_after);
    } else
        return false;
    return true;
}

std::optional<Options> parse_options(int argc, char** argv, std::string* error)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= argc) {
                *error = opt + " needs a value";
                return false;
            }
            *v = argv[++i];
            return true;
        };
        std::string v;
        uint64_t n;
        if (opt == "--help" || opt == "-h") {
            o.help = true;
        } else if (opt == "--tcp") {
            TcpChannel c;
            if (!value(&v))
                return std::nullopt;
            if (!parse_tcp(v, &c)) {
                *error = "bad --tcp " + v;
                return std::nullopt;
            }
            o.tcp.push_back(c);
        } else if (opt == "--bind") {
            if (!value(&o.bind_addr))
                return std::nullopt;
        } else if (opt == "--sap" || opt == "--sap-other") {
            SapName s;
            if (!value(&v))
                return std::nullopt;
            if (!parse_sap(v, opt == "--sap-other", &s)) {
                *error = "bad " + opt + " " + v;
                return std::nullopt;
            }
            (opt == "--sap" ? o.sap : o.sap_other).push_back(s);
        } else if (opt == "--sap-split") {
            if (!value(&v))
                return std::nullopt;
            if (!parse_uint(v, 10, 7, &n) || n == 0) {
                *error = "bad --sap-split " + v;
                return std::nullopt;
            }
            o.sap_split = static_cast<unsigned>(n);
        } else if (opt == "--sap-silent") {
            o.sap_silent = true;
        } else if (opt == "--sap-bcast-only") {
            o.sap_bcast_only = true;
        } else if (opt == "--sap-every") {
            if (!value(&v))
                return std::nullopt;
            if (!parse_uint(v, 10, 3600000, &n) || n == 0) {
                *error = "bad --sap-every " + v;
                return std::nullopt;
            }
            o.sap_every_ms = static_cast<unsigned>(n);
        } else if (opt == "--sap-net") {
            if (!value(&v))
                return std::nullopt;
            if (!parse_uint(v, 16, 0xFFFFFFFF, &n)) {
                *error = "bad --sap-net " + v;
                return std::nullopt;
            }
            o.sap_net = static_cast<uint32_t>(n);
        } else if (opt == "--sap-node") {
            std::array<uint8_t, 6> node;
            if (!value(&v))
                return std::nullopt;
            if (!parse_node(v, &node)) {
                *error = "bad --sap-node " + v;
                return std::nullopt;
            }
            o.sap_node = node;
        } else if (opt == "--spx") {
            o.spx = true;
        } else if (opt == "--spx-mode") {
            if (!value(&v))
                return std::nullopt;
            if (!parse_mode(v, &o.spx_mode)) {
                *error = "bad --spx-mode " + v;
                return std::nullopt;
            }
        } else if (opt == "--drop" || opt == "--reorder" || opt == "--duplicate") {
            if (!value(&v))
                return std::nullopt;
            if (!parse_uint(v, 10, 100, &n)) {
                *error = "bad " + opt + " " + v;
                return std::nullopt;
            }
            (opt == "--drop" ? o.drop : opt == "--reorder" ? o.reorder : o.duplicate) = static_cast<unsigned>(n);
        } else if (opt == "--seed") {
            if (!value(&v))
                return std::nullopt;
            if (!parse_uint(v, 10, UINT64_MAX, &n)) {
                *error = "bad --seed " + v;
                return std::nullopt;
            }
            o.seed = n;
        } else {
            *error = "unknown option " + opt;
            return std::nullopt;
        }
    }
    return o;
}

} // namespace devsim
