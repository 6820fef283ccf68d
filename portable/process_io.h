// The process's standard descriptors and the signal a closed pipe sends: the calls that differ between
// Linux and Windows, kept here so that both programs stay free of them.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

// Opens the null device on each of standard input, output and error that is closed, so that nothing the
// program opens later (a window system's connection, a log) takes its number and gets bytes meant for
// another. Call first thing in main.
void OpenNullOnClosedStandardDescriptors();

// A write to a pipe whose reader has gone fails with an error the program reports, instead of ending the
// process at once (on Windows it always does).
void IgnoreBrokenPipe();

// The width of the terminal on `fd` in columns, or 0 when it is no terminal.
int TerminalWidth(int fd);

// While it exists, Ctrl+C and the other requests to end the process (SIGINT, SIGTERM and SIGHUP on Linux;
// Ctrl+C, Ctrl+Break and the console closing on Windows) call `onStop` instead. It must be async-signal-safe.
// The handling from before comes back when it goes. One at a time.
class StopSignals {
public:
    explicit StopSignals(void (*onStop)());
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
};

// "2026-12-10T01:44:36+0100": the local time of `when` with its offset from UTC.
std::string LocalTimeStamp(std::time_t when);
// `when` as the local and the UTC calendar see it, safely beside other threads.
void BreakDownTime(std::time_t when, std::tm& local, std::tm& utc);

// Writes all of `size` bytes to the descriptor, going on after an interrupted call; false, with the system's
// text, when it could not.
bool WriteToDescriptor(int fd, const char* data, std::size_t size, std::string& error);
// One write of up to `size` bytes, as the system's C runtime makes it: the bytes written, or -1 with errno.
long WriteOnce(int fd, const char* data, std::size_t size);

// Whether `fd` is a terminal the user types at and reads (a console on Windows, where the C runtime's isatty
// also says yes for NUL).
bool IsTerminal(int fd);

// The program's arguments as UTF-8: on Windows from the wide command line, since argv is in the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// While it lives, what is written to `fd` arrives byte for byte: on Windows the C runtime otherwise writes each
// LF as CR LF on a descriptor in text mode, as standard output is. The mode from before comes back when it
// goes. Nothing on Linux, or for a descriptor below 0.
class ExactWrites {
public:
    explicit ExactWrites(int fd);
    ~ExactWrites();
    ExactWrites(const ExactWrites&) = delete;
    ExactWrites& operator=(const ExactWrites&) = delete;

private:
    [[maybe_unused]] int fd_ = -1;
    [[maybe_unused]] int previous_ = -1;  // the mode to go back to, -1 when none was changed
};

// While it lives, a Windows console shows and takes UTF-8, as the program writes it; the code pages from before
// come back when it goes. Nothing on Linux.
class Utf8Console {
public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

private:
    unsigned input_ = 0;
    unsigned output_ = 0;
};
