#include "device/hidraw_listing.h"

#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

namespace {

using Context = std::unique_ptr<udev, udev* (*)(udev*)>;
using Device = std::unique_ptr<udev_device, udev_device* (*)(udev_device*)>;
using Enumeration = std::unique_ptr<udev_enumerate, udev_enumerate* (*)(udev_enumerate*)>;

// The IDs of a hidraw device from its HID parent's HID_ID ("0003:00001234:00005678": bus, vendor, product).
std::optional<HidAttributes> IdsOf(udev_device* raw)
{
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr);
    const char* id = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    unsigned bus = 0;
    unsigned vendor = 0;
    unsigned product = 0;
    if (id == nullptr || std::sscanf(id, "%x:%x:%x", &bus, &vendor, &product) != 3 || vendor > 0xFFFF ||
        product > 0xFFFF) {
        return std::nullopt;
    }
    return HidAttributes{static_cast<uint16_t>(vendor), static_cast<uint16_t>(product)};
}

// The USB interface number, where the device is on USB and says it; -1 otherwise.
int InterfaceNumberOf(udev_device* raw)
{
    udev_device* usbInterface = udev_device_get_parent_with_subsystem_devtype(raw, "usb", "usb_interface");
    const char* number =
        usbInterface != nullptr ? udev_device_get_sysattr_value(usbInterface, "bInterfaceNumber") : nullptr;
    if (number == nullptr) {
        return -1;
    }
    char* end = nullptr;
    const long n = std::strtol(number, &end, 16);
    return end != number && n >= 0 && n <= 255 ? static_cast<int>(n) : -1;
}

// The USB port of the device ("1-2"); empty where there is none.
std::string UsbPortOf(udev_device* raw)
{
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(raw, "usb", "usb_device");
    const char* port = usb != nullptr ? udev_device_get_sysname(usb) : nullptr;
    return port != nullptr ? port : "";
}

}  // namespace

std::vector<HidDeviceInfo> ListHidrawNodes(uint16_t vendorId)
{
    std::vector<HidDeviceInfo> result;
    Context context(udev_new(), &udev_unref);
    Enumeration walk(context ? udev_enumerate_new(context.get()) : nullptr, &udev_enumerate_unref);
    if (!walk || udev_enumerate_add_match_subsystem(walk.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(walk.get()) < 0) {
        return result;
    }
    std::set<std::string> seen;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(walk.get()))
    {
        const char* syspath = udev_list_entry_get_name(entry);
        Device raw(syspath != nullptr ? udev_device_new_from_syspath(context.get(), syspath) : nullptr,
                   &udev_device_unref);
        const char* devnode = raw ? udev_device_get_devnode(raw.get()) : nullptr;
        const std::optional<HidAttributes> ids = devnode != nullptr ? IdsOf(raw.get()) : std::nullopt;
        if (!ids || (vendorId != 0 && ids->vendorId != vendorId) || !seen.insert(devnode).second) {
            continue;
        }
        HidDeviceInfo info;
        info.path = devnode;
        info.vendorId = ids->vendorId;
        info.productId = ids->productId;
        // Only a refusal is a matter of access: a node that is already gone belongs to a device leaving.
        info.accessible = access(devnode, R_OK | W_OK) == 0 || (errno != EACCES && errno != EPERM);
        info.interfaceNumber = InterfaceNumberOf(raw.get());
        info.location = UsbPortOf(raw.get());
        result.push_back(std::move(info));
    }
    return result;
}

std::optional<HidAttributes> HidrawNodeAttributes(const std::string& devnode)
{
    struct stat node {};
    if (stat(devnode.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) {
        return std::nullopt;
    }
    Context context(udev_new(), &udev_unref);
    Device raw(context ? udev_device_new_from_devnum(context.get(), 'c', node.st_rdev) : nullptr, &udev_device_unref);
    return raw ? IdsOf(raw.get()) : std::nullopt;
}
