// The HID interfaces a Windows platform has open, so that a hot-plug monitor can register each handle for
// removal notices and let go of one that Windows asks to remove (the controller disabled in Device Manager,
// its driver updated) instead of holding the removal up. Windows only.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

// One open interface: its handle, used by transfers under a shared lock, and closed once (on a query-remove,
// or by its device).
class OpenHandle {
public:
    OpenHandle(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    ~OpenHandle() { Close(); }
    OpenHandle(const OpenHandle&) = delete;
    OpenHandle& operator=(const OpenHandle&) = delete;

    // Cancels what is under way on the handle and closes it; the transfers after it fail.
    void Close();

    // Calls `use` with the handle while it stays open, or returns ERROR_DEVICE_NOT_CONNECTED once closed.
    DWORD Use(const std::function<DWORD(HANDLE)>& use);
    // The handle as notifications name it (it may be closed by now: compare it, never use it).
    HANDLE Name() const { return handle_; }
    const std::string& Path() const { return path_; }

private:
    HANDLE handle_;
    std::string path_;  // as Enumerate lists it
    std::atomic<bool> closing_{false};
    std::mutex closeMutex_;
    std::shared_mutex mutex_;  // shared by the transfers, had alone to close
    bool closed_ = false;      // written under both mutexes
};

class OpenDevices {
public:
    // What a listener is told: an interface opened, or about to be closed by its device.
    using Listener = std::function<void(const std::shared_ptr<OpenHandle>& handle, bool opened)>;

    // Calls `listener` at once for every interface open now, then for each one opened or closed, until
    // Unlisten(id). The listener runs under the list's lock: it must not call back here.
    int Listen(Listener listener);
    void Unlisten(int id);

    void Opened(const std::shared_ptr<OpenHandle>& handle);
    void Closing(const std::shared_ptr<OpenHandle>& handle);

private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<OpenHandle>> open_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextId_ = 1;
};
