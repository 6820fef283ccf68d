#include "device/windows_open_devices.h"

#include <algorithm>

void OpenHandle::Close()
{
    // One close at a time, so that the cancel always reaches this handle, never a later one given its number.
    std::lock_guard once(closeMutex_);
    if (closed_) {
        return;
    }
    closing_ = true;  // a transfer that would start now fails instead
    CancelIoEx(handle_, nullptr);
    std::unique_lock lock(mutex_);  // once the transfers under way have come back
    CloseHandle(handle_);
    closed_ = true;
}

DWORD OpenHandle::Use(const std::function<DWORD(HANDLE)>& use)
{
    std::shared_lock lock(mutex_);
    if (closed_ || closing_) {
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    return use(handle_);
}

int OpenDevices::Listen(Listener listener)
{
    std::lock_guard lock(mutex_);
    for (const std::weak_ptr<OpenHandle>& entry : open_) {
        if (std::shared_ptr<OpenHandle> handle = entry.lock()) {
            listener(handle, true);
        }
    }
    listeners_.emplace_back(nextId_, std::move(listener));
    return nextId_++;
}

void OpenDevices::Unlisten(int id)
{
    std::lock_guard lock(mutex_);
    listeners_.erase(
        std::remove_if(listeners_.begin(), listeners_.end(), [id](const auto& l) { return l.first == id; }),
        listeners_.end());
}

void OpenDevices::Opened(const std::shared_ptr<OpenHandle>& handle)
{
    std::lock_guard lock(mutex_);
    open_.erase(std::remove_if(open_.begin(), open_.end(), [](const auto& e) { return e.expired(); }), open_.end());
    open_.push_back(handle);
    for (const auto& [id, listener] : listeners_) {
        listener(handle, true);
    }
}

void OpenDevices::Closing(const std::shared_ptr<OpenHandle>& handle)
{
    std::lock_guard lock(mutex_);
    open_.erase(
        std::remove_if(open_.begin(), open_.end(), [&](const auto& e) { return e.expired() || e.lock() == handle; }),
        open_.end());
    for (const auto& [id, listener] : listeners_) {
        listener(handle, false);
    }
}
