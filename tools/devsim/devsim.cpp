// devsim: a serial device server simulator for tests and demonstrations.
// See devsim --help.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

#include "devsim_options.h"
#include "sap_responder.h"
#include "spx_channels.h"
#include "tcp_channels.h"

int main(int argc, char** argv)
{
    if (const auto answered = kolm::answer_help_or_version(argc, argv, devsim::help))
        return *answered;
    std::string error;
    auto options = devsim::parse_options(argc, argv, &error);
    if (!options) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        kolm::print_usage(devsim::help);
        return 2;
    }
    if (options->help) {
        kolm::print_help(devsim::help);
        return 0;
    }

    // SIGINT and SIGTERM arrive as readable data in the poll loop, which
    // then ends and closes everything in order.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int sigfd = ::signalfd(-1, &stop_signals, SFD_CLOEXEC);
    if (sigfd < 0) {
        std::perror("devsim: signalfd");
        return 1;
    }

    devsim::TcpChannels tcp;
    devsim::SpxChannels spx;
    devsim::SapResponder sap;
    std::vector<devsim::Component*> parts{&tcp};
    if (!tcp.start(*options, &error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 1;
    }
    if (options->spx) {
        // The SPX listeners need the advertised numbers now: the dynamic
        // ones the SAP responder would pick.
        uint16_t next_dynamic = 0x4000;
        for (auto& s : options->sap)
            if (!s.socket)
                s.socket = next_dynamic++;
        if (!spx.start(*options, &error)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return 1;
        }
        parts.push_back(&spx);
    }
    if (!options->sap.empty() || !options->sap_other.empty()) {
        if (!sap.start(*options, &error, options->spx ? spx.station() : nullptr)) {
            std::fprintf(stderr, "devsim: %s\n", error.c_str());
            return 1;
        }
        parts.push_back(&sap);
    }
    std::puts("ready");
    std::fflush(stdout);

    std::vector<pollfd> fds;
    std::vector<size_t> counts(parts.size());
    for (;;) {
        fds.clear();
        fds.push_back({sigfd, POLLIN, 0});
        for (size_t i = 0; i < parts.size(); ++i)
            counts[i] = parts[i]->collect(fds);
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("devsim: poll");
            return 1;
        }
        if (fds[0].revents)
            break;
        size_t k = 1;
        for (size_t i = 0; i < parts.size(); ++i) {
            parts[i]->dispatch(fds.data() + k, counts[i]);
            k += counts[i];
        }
    }
    ::close(sigfd);
    return 0;
}
