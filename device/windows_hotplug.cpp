#include "device/windows_hotplug.h"
#include "device/device_path.h"

#include "portable/windows_text.h"

#include <windows.h>
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

namespace {

constexpr const wchar_t* kWindowClass = L"DoorphoneconfigHotplugMonitor";

}  // namespace

struct HotplugWindow {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

std::unique_ptr<WindowsHotplugMonitor> WindowsHotplugMonitor::Create(std::shared_ptr<OpenDevices> devices)
{
    std::unique_ptr<WindowsHotplugMonitor> monitor(new WindowsHotplugMonitor());
    monitor->devices_ = std::move(devices);
    monitor->ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (monitor->ready_ == nullptr) {
        return nullptr;
    }
    std::promise<bool> started;
    std::future<bool> result = started.get_future();
    WindowsHotplugMonitor* self = monitor.get();
    monitor->thread_ = std::thread([self, &started] { self->Run(started); });
    if (!result.get()) {
        return nullptr;  // the thread has ended; the destructor joins it
    }
    return monitor;
}

WindowsHotplugMonitor::~WindowsHotplugMonitor()
{
    // Should a full message queue refuse the close, a quit message to the thread ends its loop as well.
    if (window_ != nullptr && !PostMessageW(static_cast<HWND>(window_), WM_CLOSE, 0, 0)) {
        PostThreadMessageW(windowThread_, WM_QUIT, 0, 0);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    if (ready_ != nullptr) {
        CloseHandle(ready_);
    }
}

void WindowsHotplugMonitor::Run(std::promise<bool>& started)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &HotplugWindow::Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    // Every monitor of the process shares the class; a second registration finds it there.
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        started.set_value(false);
        return;
    }
    // A message-only window: never shown, needs no desktop, yet receives device notifications.
    HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (window == nullptr) {
        started.set_value(false);
        return;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    HDEVNOTIFY registration = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (registration == nullptr) {
        DestroyWindow(window);
        started.set_value(false);
        return;
    }
    window_ = window;
    windowThread_ = GetCurrentThreadId();
    if (devices_) {
        listening_ = devices_->Listen([this](const std::shared_ptr<OpenHandle>& h, bool opened) { Watch(h, opened); });
    }
    started.set_value(true);  // `started` lives no longer than this

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    if (devices_) {
        devices_->Unlisten(listening_);
    }
    {
        std::lock_guard lock(watchedMutex_);
        for (const auto& [name, watched] : watched_) {
            UnregisterDeviceNotification(watched.registration);
        }
        watched_.clear();
    }
    // A window can only be destroyed by the thread that made it.
    UnregisterDeviceNotification(registration);
    DestroyWindow(window);
}

void WindowsHotplugMonitor::Watch(const std::shared_ptr<OpenHandle>& handle, bool opened)
{
    std::lock_guard lock(watchedMutex_);
    auto it = watched_.find(handle->Name());
    // A handle let go on a query-remove may give its number to the next one opened: a device that goes only
    // takes its own registration with it, while one newly opened takes the place of a dead one.
    if (it != watched_.end() && (opened || it->second.handle.lock() == handle)) {
        UnregisterDeviceNotification(it->second.registration);
        watched_.erase(it);
    }
    if (!opened) {
        return;
    }
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = handle->Name();
    // Refused (Wine has no such notices), the interface is only watched through its class, as before.
    if (HDEVNOTIFY registration =
            RegisterDeviceNotificationW(static_cast<HWND>(window_), &filter, DEVICE_NOTIFY_WINDOW_HANDLE)) {
        watched_[handle->Name()] = Watched{registration, handle};
    }
}

void WindowsHotplugMonitor::OnHandleNotice(unsigned event, void* name)
{
    std::shared_ptr<OpenHandle> handle;
    {
        std::lock_guard lock(watchedMutex_);
        auto it = watched_.find(name);
        if (it == watched_.end()) {
            return;
        }
        handle = it->second.handle.lock();
        // After a query-remove the notices that end it still come; after those nothing more does.
        if (event != DBT_DEVICEQUERYREMOVE) {
            UnregisterDeviceNotification(it->second.registration);
            watched_.erase(it);
        }
    }
    if (!handle) {
        return;
    }
    if (event == DBT_DEVICEQUERYREMOVE) {
        handle->Close();  // the transfer under way is cancelled; the ones after fail
        Deliver(HotplugEvent{HotplugAction::Remove, handle->Path()});
    } else if (event == DBT_DEVICEQUERYREMOVEFAILED) {
        Deliver(HotplugEvent{HotplugAction::Add, handle->Path()});  // it stays: open it anew
    }
}

LRESULT CALLBACK HotplugWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<WindowsHotplugMonitor*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_CLOSE) {
        PostQuitMessage(0);  // Run takes the window down once the loop has ended
        return 0;
    }
    if (message == WM_DEVICECHANGE && self != nullptr && lParam != 0 &&
        reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_devicetype == DBT_DEVTYP_HANDLE) {
        // Said yes to: the handle is closed, so nothing of this program holds the removal up.
        self->OnHandleNotice(static_cast<unsigned>(wParam),
                             reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam)->dbch_handle);
        return TRUE;
    }
    if (message == WM_DEVICECHANGE && self != nullptr && lParam != 0 &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            HotplugEvent event;
            event.action = wParam == DBT_DEVICEARRIVAL ? HotplugAction::Add : HotplugAction::Remove;
            event.devicePath = CanonicalDevicePath(portable::Narrow(record->dbcc_name));
            self->Deliver(std::move(event));
        }
        return TRUE;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void WindowsHotplugMonitor::Deliver(HotplugEvent event)
{
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    SetEvent(ready_);
}

portable::WaitHandle WindowsHotplugMonitor::Waitable() const
{
    return ready_;
}

std::vector<HotplugEvent> WindowsHotplugMonitor::ReadEvents()
{
    std::lock_guard lock(mutex_);
    std::vector<HotplugEvent> events(std::make_move_iterator(events_.begin()), std::make_move_iterator(events_.end()));
    events_.clear();
    ResetEvent(ready_);  // under the lock, so an event delivered now sets it again after this
    return events;
}
