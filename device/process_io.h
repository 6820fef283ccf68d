// The process's standard descriptors and the signal a closed pipe sends: the calls that differ between
// Linux and Windows, kept here so that both programs stay free of them.
#pragma once

#include <cstddef>
#include <string>

// Opens the null device on each of standard input, output and error that is closed, so that nothing the
// program opens later (a window system's connection, a log) takes its number and gets bytes meant for
// another. Call first thing in main.
void OpenNullOnClosedStandardDescriptors();

// A write to a pipe whose reader has gone fails with an error the program reports, instead of ending the
// process at once (on Windows it always does).
void IgnoreBrokenPipe();

// Writes all of `size` bytes to the descriptor, going on after an interrupted call; false, with the system's
// text, when it could not.
bool WriteToDescriptor(int fd, const char* data, std::size_t size, std::string& error);
