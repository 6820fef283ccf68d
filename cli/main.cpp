#include "cli/doorphonectl.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv)
{
    CliIo io{std::cin, std::cout, std::cerr, isatty(STDIN_FILENO) == 1, isatty(STDERR_FILENO) == 1, STDIN_FILENO};
    return DoorphonectlMain(std::vector<std::string>(argv, argv + argc), io);
}
