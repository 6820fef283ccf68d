#include "device/device_link.h"

#include <cerrno>
#include <cstring>

namespace {
// Per thread, since the dialog's thread and the firmware worker transfer at the same time.
thread_local std::string lastError;
}  // namespace

DeviceLink::DeviceLink(HidPlatform& platform) : platform_(platform) {}

std::string DeviceLink::LastError()
{
    return lastError;
}

bool DeviceLink::FindDevice()
{
    return OpenFirst("");
}

bool DeviceLink::OpenPath(const std::string& path)
{
    return OpenFirst(path);
}

bool DeviceLink::OpenFirst(const std::string& onlyPath)
{
    // The walk runs with the old handle still in place and swaps the result in at the end, so a transfer on
    // another thread never finds the handle missing just because discovery runs. The replaced handle is
    // released now, or when the last transfer through it returns.
    std::shared_ptr<HidDevice> found;
    HidDeviceInfo foundInfo;
    std::string inaccessible;
    for (const HidDeviceInfo& info : platform_.Enumerate(controller::kVendorId)) {
        if (!onlyPath.empty() && info.path != onlyPath) {
            continue;
        }
        if (!info.accessible && controller::IsControllerProduct(info.productId) && inaccessible.empty()) {
            inaccessible = info.path;
        }
        std::shared_ptr<HidDevice> device = platform_.Open(info.path);
        if (!device) {
            continue;
        }
        std::optional<HidAttributes> attributes = device->GetAttributes();
        if (!attributes || attributes->vendorId != controller::kVendorId ||
            !controller::IsControllerProduct(attributes->productId)) {
            continue;  // released as `device` goes out of scope
        }
        found = std::move(device);
        foundInfo = info;
        break;
    }
    inaccessiblePath_ = found ? std::string() : inaccessible;
    opened_.store(found ? std::make_shared<const HidDeviceInfo>(foundInfo) : nullptr);
    deviceHandle_.store(found);
    return found != nullptr;
}

std::vector<HidDeviceInfo> DeviceLink::Controllers()
{
    std::vector<HidDeviceInfo> controllers;
    for (HidDeviceInfo& info : platform_.Enumerate(controller::kVendorId)) {
        // A controller's further interfaces, if it has any, are not further controllers.
        if (controller::IsControllerProduct(info.productId) && info.interfaceNumber <= 0) {
            controllers.push_back(std::move(info));
        }
    }
    return controllers;
}

std::string DeviceLink::DevicePath() const
{
    std::shared_ptr<const HidDeviceInfo> info = opened_.load();
    return info ? info->path : std::string();
}

std::string DeviceLink::DeviceLocation() const
{
    std::shared_ptr<const HidDeviceInfo> info = opened_.load();
    return info ? info->location : std::string();
}

bool DeviceLink::GetShortReport(int reportId)
{
    if (reportId != report::kStatusId && reportId != report::kBootId) {
        return false;
    }
    reportBuffer_[0] = static_cast<uint8_t>(reportId);
    return GetFeature(reportBuffer_.data(), report::kShortLength);
}

bool DeviceLink::Transfer(bool isSet, uint8_t* data, std::size_t length, std::string* error)
{
    std::shared_ptr<HidDevice> device = deviceHandle_.load();  // kept alive for the whole transfer
    std::string text;
    bool ok = false;
    std::size_t logged = length;
    if (device) {
        const uint8_t asked = data[0];
        const int n = isSet ? device->SetFeature(data, length, text) : device->GetFeature(data, length, text);
        ok = n == static_cast<int>(length);  // a short transfer is a failed one
        if (!ok && text.empty()) {
            text = isSet ? "Short write to the device" : "Short read from the device";
        }
        if (!isSet && n >= 0 && static_cast<std::size_t>(n) < length) {
            logged = static_cast<std::size_t>(n);  // the rest of the buffer is what an earlier read left there
        }
        if (ok && !isSet && data[0] != asked) {
            ok = false;  // another report's bytes are never taken for the one asked for
            text = "the device answered with report " + std::to_string(data[0]) + " where report " +
                   std::to_string(asked) + " was asked for";
        }
    } else {
        text = std::strerror(ENODEV);
    }
    if (wireLog_) {
        wireLog_->Record(isSet, data, logged, ok, wireUnit_);
    }
    if (!ok) {
        lastError = text;
        if (error) {
            *error = text;
        }
    }
    return ok;
}

bool DeviceLink::GetFeature(uint8_t* data, std::size_t length, std::string* error)
{
    return Transfer(false, data, length, error);
}

bool DeviceLink::SetFeature(const uint8_t* data, std::size_t length, std::string* error)
{
    // A set transfer only reads the buffer.
    return Transfer(true, const_cast<uint8_t*>(data), length, error);
}

bool DeviceLink::SendNumericParameter(int group, int index, int value)
{
    EncodeNumericParameter(reportBuffer_, group, index, value);
    return SetFeature(reportBuffer_.data(), report::kParameterLength);
}

bool DeviceLink::SendStringParameter(int group, int index, int length, const char* text)
{
    EncodeStringParameter(reportBuffer_, group, index, length, text);
    return SetFeature(reportBuffer_.data(), report::kParameterLength);
}

bool DeviceLink::SendRestoreDefaults()
{
    EncodeRestoreDefaults(reportBuffer_);
    return SetFeature(reportBuffer_.data(), report::kParameterLength);
}
