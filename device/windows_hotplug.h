// Arrival and removal of HID interfaces on Windows: device notifications for the HID interface class, sent
// to a message-only window that a thread of the monitor's own creates and pumps.
#pragma once

#include "device/hotplug.h"

#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

class WindowsHotplugMonitor : public HotplugMonitor {
public:
    // Null when the window or the registration cannot be had.
    static std::unique_ptr<WindowsHotplugMonitor> Create();
    ~WindowsHotplugMonitor() override;
    WindowsHotplugMonitor(const WindowsHotplugMonitor&) = delete;
    WindowsHotplugMonitor& operator=(const WindowsHotplugMonitor&) = delete;

    // A manual-reset event, set while events wait.
    portable::WaitHandle Waitable() const override;
    std::vector<HotplugEvent> ReadEvents() override;

private:
    WindowsHotplugMonitor() = default;
    // The window's thread: creates the window and the registration, tells `started` whether both came,
    // pumps messages until the window is closed, and takes both down again.
    void Run(std::promise<bool>& started);
    friend struct HotplugWindow;  // the window procedure, which delivers
    void Deliver(HotplugEvent event);

    void* ready_ = nullptr;           // the manual-reset event behind Waitable()
    void* window_ = nullptr;          // set by the window's thread before `started` is told
    unsigned long windowThread_ = 0;  // the window thread's ID, likewise
    std::thread thread_;
    std::mutex mutex_;
    std::deque<HotplugEvent> events_;
};
