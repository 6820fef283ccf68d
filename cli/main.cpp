#include "cli/checked_output.h"
#include "cli/doorphonectl.h"
#include "portable/process_io.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv)
{
    OpenNullOnClosedStandardDescriptors();  // before anything opens a file that could take their numbers
    IgnoreBrokenPipe();                     // a closed pipe is an error to report, never the end mid-transfer
    CheckedOutput outSink(STDOUT_FILENO);
    std::ostream out(&outSink);
    CliIo io{std::cin, out, std::cerr, isatty(STDIN_FILENO) == 1, isatty(STDERR_FILENO) == 1, STDIN_FILENO, &outSink,
             isatty(STDOUT_FILENO) == 1, STDOUT_FILENO, STDERR_FILENO};
    return DoorphonectlMain(std::vector<std::string>(argv, argv + argc), io);
}
