// doorphonectl: the controller from the command line. The same device link, catalogue, entry rules and
// firmware stream as the window, so it says and sends exactly what the window would.
#pragma once

#include "device/device_link.h"

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

#include <functional>

class CheckedOutput;
class StopRequest;
namespace sim {
class VirtualController;
}

struct CliIo {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool inIsTerminal = false;
    bool errIsTerminal = false;
    int inFd = -1;  // standard input's descriptor, for what is read while waiting (provision's demo commands)
    const CheckedOutput* outSink = nullptr;  // behind `out`, when it is standard output: why a write failed
    bool outIsTerminal = false;
    int outFd = -1;  // standard output's and standard error's descriptors, for the terminal's width
    int errFd = -1;
};

// Exit codes.
constexpr int kExitDone = 0;
constexpr int kExitDevice = 1;  // the controller is absent, refuses a transfer, or did not take a value; a
                                // stop by a signal; output, record or wire log that could not be written
constexpr int kExitUsage = 2;   // a usage or entry error

// For tests: a virtual controller to use with --simulate, and shorter waits.
struct CliTestHooks {
    sim::VirtualController* controller = nullptr;
    std::chrono::milliseconds settle = controller::kArrivalSettleTime;  // after the controller arrives
    std::chrono::milliseconds leaveTimeout{30000};                      // for the controller to leave after programming
    std::chrono::milliseconds returnTimeout{60000};                     // for it to come back after its reboot
    StopRequest* stop = nullptr;                 // commands that change: this instead of the signals
    std::function<void(int unitsDone)> waiting;  // provision: called each time it waits for a controller
};

// args[0] is the program's name.
int DoorphonectlMain(const std::vector<std::string>& args, CliIo& io, const CliTestHooks* hooks = nullptr);
