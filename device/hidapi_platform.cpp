#include "device/hidapi_platform.h"

#include <hidapi/hidapi.h>
#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <set>

namespace {

std::string Narrow(const wchar_t* text)
{
    if (text == nullptr) {
        return {};
    }
    std::mbstate_t state{};
    const wchar_t* src = text;
    std::size_t n = std::wcsrtombs(nullptr, &src, 0, &state);
    if (n == static_cast<std::size_t>(-1)) {
        // Not representable in the current locale: keep the ASCII part.
        std::string out;
        for (const wchar_t* p = text; *p; ++p) {
            out.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
        }
        return out;
    }
    std::string out(n, '\0');
    src = text;
    state = {};
    std::wcsrtombs(out.data(), &src, n, &state);
    return out;
}

class HidapiDevice : public HidDevice {
public:
    explicit HidapiDevice(hid_device* dev) : dev_(dev) {}
    ~HidapiDevice() override { hid_close(dev_); }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    std::optional<HidAttributes> GetAttributes() override
    {
        const hid_device_info* info = hid_get_device_info(dev_);
        if (info == nullptr) {
            return std::nullopt;
        }
        return HidAttributes{info->vendor_id, info->product_id};
    }

    int GetFeature(uint8_t* data, std::size_t length, std::string& error) override
    {
        int n = hid_get_feature_report(dev_, data, length);
        if (n < 0) {
            error = ErrorText();
        }
        return n;
    }

    int SetFeature(const uint8_t* data, std::size_t length, std::string& error) override
    {
        int n = hid_send_feature_report(dev_, data, length);
        if (n < 0) {
            error = ErrorText();
        }
        return n;
    }

private:
    std::string ErrorText()
    {
        int saved = errno;
        std::string text = Narrow(hid_error(dev_));
        if (text.empty() || text == "Success") {
            text = std::strerror(saved != 0 ? saved : EIO);
        }
        return text;
    }

    hid_device* dev_;
};

}  // namespace

HidapiPlatform::HidapiPlatform() : initialised_(hid_init() == 0) {}

HidapiPlatform::~HidapiPlatform()
{
    if (initialised_) {
        hid_exit();
    }
}

namespace {

// The USB port of a hidraw node's device ("1-2"), from udev; empty where there is none.
std::string UsbPortOf(udev* context, const std::string& devnode)
{
    if (context == nullptr) {
        return {};
    }
    const std::string name = devnode.substr(devnode.rfind('/') + 1);
    udev_device* node = udev_device_new_from_subsystem_sysname(context, "hidraw", name.c_str());
    if (node == nullptr) {
        return {};
    }
    // The parent belongs to the node and goes with it.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
    const char* port = usb != nullptr ? udev_device_get_sysname(usb) : nullptr;
    std::string result = port != nullptr ? port : "";
    udev_device_unref(node);
    return result;
}

}  // namespace

std::vector<HidDeviceInfo> HidapiPlatform::Enumerate(uint16_t vendorId)
{
    std::vector<HidDeviceInfo> result;
    if (!initialised_) {
        return result;
    }
    std::lock_guard lock(listing_);
    std::unique_ptr<udev, udev* (*)(udev*)> context(udev_new(), &udev_unref);
    // Filtering by vendor here keeps unrelated devices (keyboards, mice) from ever being opened.
    hid_device_info* list = hid_enumerate(vendorId, 0);
    std::set<std::string> seen;
    for (hid_device_info* it = list; it != nullptr; it = it->next) {
        if (it->path == nullptr || !seen.insert(it->path).second) {
            continue;  // hidapi lists a path once per usage
        }
        HidDeviceInfo info;
        info.path = it->path;
        info.vendorId = it->vendor_id;
        info.productId = it->product_id;
        // Only a refusal is a matter of access: a node that is already gone belongs to a device leaving.
        info.accessible = access(it->path, R_OK | W_OK) == 0 || (errno != EACCES && errno != EPERM);
        info.interfaceNumber = it->interface_number;
        info.location = UsbPortOf(context.get(), info.path);
        result.push_back(std::move(info));
    }
    hid_free_enumeration(list);
    return result;
}

std::unique_ptr<HidDevice> HidapiPlatform::Open(const std::string& path)
{
    if (!initialised_) {
        return nullptr;
    }
    // hidapi 0.13.1 may touch freed memory when hid_open_path fails, so never let it fail on permissions.
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        return nullptr;
    }
    std::lock_guard lock(listing_);
    hid_device* dev = hid_open_path(path.c_str());
    if (dev == nullptr) {
        return nullptr;
    }
    return std::make_unique<HidapiDevice>(dev);
}
