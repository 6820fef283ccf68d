#include "cli/checked_output.h"
#include "cli/doorphonectl.h"
#include "portable/process_io.h"

#include <iostream>

int main(int argc, char** argv)
{
    OpenNullOnClosedStandardDescriptors();  // before anything opens a file that could take their numbers
    IgnoreBrokenPipe();                     // a closed pipe is an error to report, never the end mid-transfer
    const Utf8Console console;
    constexpr int kIn = 0, kOut = 1, kErr = 2;
    CheckedOutput outSink(kOut);
    std::ostream out(&outSink);
    CliIo io{std::cin, out, std::cerr, IsTerminal(kIn), IsTerminal(kErr), kIn, &outSink, IsTerminal(kOut), kOut, kErr};
    return DoorphonectlMain(ProgramArguments(argc, argv), io);
}
