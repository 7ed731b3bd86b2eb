// devsim's command line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kolm/program_help.h"

namespace devsim {

enum class TcpMode { echo, discard, refuse, close_after };

struct TcpChannel {
    uint16_t port = 0;        // 0: any free port (printed at start-up)
    TcpMode mode = TcpMode::echo;
    uint64_t close_after = 0; // close_after: bytes to receive (and echo) before closing
};

struct SapName {
    std::string name;
    std::optional<uint16_t> socket; // advertised socket; none: a dynamic one
    uint16_t type = 0x052C;
};

struct Options {
    std::string bind_addr = "127.0.0.1";
    std::vector<TcpChannel> tcp;
    std::vector<SapName> sap;        // our servers (type 0x052C)
    std::vector<SapName> sap_other;  // entries of other server types
    unsigned sap_split = 7;          // entries per answer datagram, 1..7
    bool sap_silent = false;
    bool sap_bcast_only = false;
    unsigned sap_every_ms = 0;       // unasked advertisements; 0: none
    std::optional<uint32_t> sap_net;                 // advertised network
    std::optional<std::array<uint8_t, 6>> sap_node;  // advertised node
    // SPX channels at each --sap socket + 0x0800, all in one mode.
    bool spx = false;
    TcpChannel spx_mode;             // port unused
    // Faults injected on the station of the SPX channels, in percent.
    unsigned drop = 0, reorder = 0, duplicate = 0;
    uint64_t seed = 1;
    bool help = false;
};

// MODE of --tcp and --spx-mode: echo, discard, refuse or close:N.
bool parse_mode(const std::string& mode, TcpChannel* c);

// Parses argv; on a mistake returns nothing and says why in *error.
std::optional<Options> parse_options(int argc, char** argv, std::string* error);

extern const kolm::ProgramHelp help;

} // namespace devsim
