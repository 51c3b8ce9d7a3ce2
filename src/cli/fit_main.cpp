#include "cli/fit_command.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <iostream>
#include <locale.h>
#include <unistd.h>

namespace {

std::atomic<bool> Interrupted{false};

extern "C" void OnInterrupt(int /*signal*/) {
    Interrupted = true;
}

} // namespace

int main(int argc, char** argv) {
    static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
    std::setlocale(LC_ALL, "");
    std::ios::sync_with_stdio(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const char* point = std::localeconv()->decimal_point;
    const char separator = (point != nullptr && point[0] != '\0' && point[1] == '\0') ? point[0] : '.';
    return dravo2::RunFitCommand(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, Interrupted, separator);
}
