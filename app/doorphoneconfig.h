// CDoorphoneConfigApp: starts the tool on the real controller (through the system's HID layer) or on the
// virtual one, runs the main dialog and ends with it.
#pragma once

#include <string>

struct AppOptions {
    bool simulate = false;
    std::string wireLogPath;
};

class CDoorphoneConfigApp {
public:
    explicit CDoorphoneConfigApp(AppOptions options) : m_options(std::move(options)) {}
    // Runs the dialog to its end; returns the process's exit code.
    int InitInstance();

private:
    AppOptions m_options;
};
