// lumitrax-sim: a virtual controller on a pseudo-terminal. See --help.

#include <csignal>
#include <cstdio>
#include <string>

#include "sim_options.h"
#include "sim_server.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int signo) { g_stop = signo; }

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--version") {
            std::printf("lumitrax-sim %s\n", LUMITRAX_VERSION);
            return 0;
        }
    }
    sim::Options options;
    std::string message;
    switch (sim::ParseOptions(argc, argv, options, message)) {
    case sim::ParseResult::Help:
        std::fputs(sim::UsageText().c_str(), stdout);
        return 0;
    case sim::ParseResult::Error:
        std::fprintf(stderr, "lumitrax-sim: %s\nTry 'lumitrax-sim --help'.\n", message.c_str());
        return 2;
    case sim::ParseResult::Run:
        break;
    }

    // The stop signals stay blocked except while the loop waits, so none can slip in between
    // a check of the flag and the wait; a reader of our output going away is not fatal.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int s : kStopSignals) {
        sigaddset(&stopSignals, s);
        sigaction(s, &action, nullptr);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (const int s : kStopSignals) {
        sigdelset(&waitMask, s);
    }

    sim::Server server(options);
    if (!server.Start(message)) {
        std::fprintf(stderr, "lumitrax-sim: %s\n", message.c_str());
        return 1;
    }
    std::printf("%s\n", server.DevicePath().c_str());
    std::fflush(stdout);

    server.Serve(g_stop, &waitMask);
    server.Stop();
    return 0;
}
