#include "cli/sweep_command.h"

#include <clocale>
#include <iostream>
#include <locale.h>
#include <unistd.h>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const char* point = std::localeconv()->decimal_point;
    const char separator = (point != nullptr && point[0] != '\0' && point[1] == '\0') ? point[0] : '.';
    return dravo2::RunSweepCommand(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, separator);
}
