#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "DiscMaker.h"

namespace {

void OnSignal(int) {
    CancelRequested().store(true, std::memory_order_release);
}

}  // namespace

int main(int argc, char** argv) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return RunDiscMaker(arguments, std::cout, std::cerr, ::isatty(2) == 1);
}
