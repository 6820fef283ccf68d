// Arrival and removal of HID interfaces on Windows: device notifications for the HID interface class, sent
// to a message-only window that a thread of the monitor's own creates and pumps. Each interface the platform
// has open is registered by its handle as well: when Windows asks to remove it (the controller disabled in
// Device Manager, its driver updated), the handle is closed at once, so the removal goes ahead, and the
// monitor reports the interface removed (added again should the removal fail).
#pragma once

#include "device/hotplug.h"
#include "device/windows_open_devices.h"

#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

class WindowsHotplugMonitor : public HotplugMonitor {
public:
    // Null when the window or the registration cannot be had. `devices`: the platform's open interfaces, whose
    // handles are registered for removal notices (none without it).
    static std::unique_ptr<WindowsHotplugMonitor> Create(std::shared_ptr<OpenDevices> devices = nullptr);
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
    // The platform's list tells of an interface opened or closing: registers or unregisters its handle.
    void Watch(const std::shared_ptr<OpenHandle>& handle, bool opened);
    // A notice for a registered handle (DBT_DEVTYP_HANDLE): on a query-remove, closes it and reports it removed.
    void OnHandleNotice(unsigned event, void* handle);

    struct Watched {
        void* registration;  // HDEVNOTIFY
        std::weak_ptr<OpenHandle> handle;
    };
    std::shared_ptr<OpenDevices> devices_;
    int listening_ = 0;  // the id of the listener, while there is one
    std::mutex watchedMutex_;
    std::map<void*, Watched> watched_;  // by the handle, as notices name it

    void* ready_ = nullptr;           // the manual-reset event behind Waitable()
    void* window_ = nullptr;          // set by the window's thread before `started` is told
    unsigned long windowThread_ = 0;  // the window thread's ID, likewise
    std::thread thread_;
    std::mutex mutex_;
    std::deque<HotplugEvent> events_;
};
