// cardsim: plays one simulated card into a vpcd reader until it is told to stop (SIGTERM or
// SIGINT: the card is pulled out), the reader goes away, or a fault pulls the card.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>

#include "simulated_card.h"

namespace {

int usage(const char* error) {
    if (error) std::cerr << "cardsim: " << error << "\n";
    std::cerr << "usage: cardsim --port P [options]\n" << cardsim::optionHelp();
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    cardsim::SimOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return usage(nullptr);
        if (arg.rfind("--", 0) != 0 || i + 1 >= argc) return usage(("bad argument " + arg).c_str());
        std::string error = cardsim::applyOption(options, arg.substr(2), argv[++i]);
        if (!error.empty()) return usage(error.c_str());
    }
    if (options.port == 0) return usage("--port is required");

    // Signals are taken synchronously below; block them before the serving thread starts so
    // that it never receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        cardsim::SimulatedCard card(options.card, options.port, options.logFile);
        if (!card.insert()) {
            std::cerr << "cardsim: no reader listens on port " << options.port << "\n";
            return 1;
        }
        const timespec tick = {0, 100 * 1000 * 1000};
        while (card.inserted()) {
            if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) break;
        }
        card.remove();
    } catch (const std::exception& e) {
        std::cerr << "cardsim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
