#include "device/windows_hid_platform.h"
#include "device/device_path.h"
#include "device/windows_open_devices.h"
#include "device/windows_overlapped.h"

#include "portable/windows_text.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <hidclass.h>
#include <setupapi.h>
#include <winioctl.h>
// MinGW-w64's HID headers declare C functions without saying so to C++.
extern "C" {
#include <hidsdi.h>
// hidpi.h needs the types hidsdi.h brings in.
#include <hidpi.h>
}

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <set>
#include <vector>

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct DeviceListCloser {
    void operator()(HDEVINFO list) const { SetupDiDestroyDeviceInfoList(list); }
};
using UniqueDeviceList = std::unique_ptr<void, DeviceListCloser>;

// Null when the path cannot be opened with this access (the reason is in GetLastError).
UniqueHandle OpenPath(const std::wstring& path, DWORD access, DWORD flags = 0)
{
    HANDLE h =
        CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
    return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The longest feature report of the interface, or 0 when its capabilities cannot be read.
std::size_t LongestFeatureReport(HANDLE device)
{
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!HidD_GetPreparsedData(device, &data)) {
        return 0;
    }
    HIDP_CAPS caps{};
    const bool ok = HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS;
    HidD_FreePreparsedData(data);
    return ok ? caps.FeatureReportByteLength : 0;
}

std::string TransferErrorText(DWORD code)
{
    if (code == ERROR_TIMEOUT) {
        return "the controller did not answer within " + std::to_string(kTransferTimeoutMs / 1000) + " seconds";
    }
    if (code == kStoppedCode) {
        return "stopped while the transfer was under way";
    }
    if (code == ERROR_DEVICE_NOT_CONNECTED) {
        return "Windows is removing the controller";  // its handle was let go when Windows asked
    }
    return portable::SystemErrorText(code);
}

class WindowsHidDevice : public HidDevice {
public:
    WindowsHidDevice(UniqueHandle handle, const std::string& path,
                     std::shared_ptr<std::atomic<portable::WaitHandle>> stop, std::shared_ptr<OpenDevices> devices)
        : featureLength_(LongestFeatureReport(handle.get())),
          handle_(std::make_shared<OpenHandle>(handle.release(), CanonicalDevicePath(path))),
          stop_(std::move(stop)),
          devices_(std::move(devices))
    {
        devices_->Opened(handle_);
    }

    ~WindowsHidDevice() override
    {
        devices_->Closing(handle_);
        handle_->Close();  // before requests_ goes: closing ends what the driver still holds, if anything does
    }

    WindowsHidDevice(const WindowsHidDevice&) = delete;
    WindowsHidDevice& operator=(const WindowsHidDevice&) = delete;

    std::optional<HidAttributes> GetAttributes() override
    {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        const DWORD code = handle_->Use(
            [&](HANDLE h) -> DWORD { return HidD_GetAttributes(h, &attributes) ? ERROR_SUCCESS : GetLastError(); });
        if (code != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return HidAttributes{attributes.VendorID, attributes.ProductID};
    }

    // Wine takes a get buffer at least as long as the asked report and asks the device for the whole
    // buffer; Windows may want one as long as the interface's longest feature report. Refused at one length,
    // nothing has reached the device, so the longer buffer is tried then.
    int GetFeature(uint8_t* data, std::size_t length, std::string& error) override
    {
        if (length == 0) {
            error = portable::SystemErrorText(ERROR_INVALID_PARAMETER);
            return -1;
        }
        std::vector<uint8_t> buffer(length, 0);
        buffer[0] = data[0];
        DWORD received = 0;
        DWORD code = Transfer(IOCTL_HID_GET_FEATURE, buffer, received);
        if (code != ERROR_SUCCESS && length < featureLength_ &&
            (code == ERROR_INVALID_PARAMETER || code == ERROR_INVALID_USER_BUFFER)) {
            buffer.assign(featureLength_, 0);
            buffer[0] = data[0];
            code = Transfer(IOCTL_HID_GET_FEATURE, buffer, received);
        }
        if (code != ERROR_SUCCESS) {
            error = TransferErrorText(code);
            return -1;
        }
        if (data[0] == 0 && received > 0) {
            ++received;  // without report IDs, Windows does not count the zero byte in front
        }
        const std::size_t n = std::min<std::size_t>(received, length);
        std::memcpy(data, buffer.data(), n);
        return static_cast<int>(n);
    }

    // Windows refuses a set buffer shorter than the interface's longest feature report, whichever report it
    // carries, and sends only the report's own length of it (as Wine does).
    int SetFeature(const uint8_t* data, std::size_t length, std::string& error) override
    {
        if (length == 0) {
            error = portable::SystemErrorText(ERROR_INVALID_PARAMETER);
            return -1;
        }
        std::vector<uint8_t> buffer(std::max(length, featureLength_), 0);
        std::memcpy(buffer.data(), data, length);
        DWORD sent = 0;
        if (const DWORD code = Transfer(IOCTL_HID_SET_FEATURE, buffer, sent); code != ERROR_SUCCESS) {
            error = TransferErrorText(code);
            return -1;
        }
        return static_cast<int>(length);
    }

private:
    // One feature report through the class driver's request, as HidD_GetFeature and HidD_SetFeature send it,
    // overlapped: given up after kTransferTimeoutMs, or at once when a stop is requested. A get's report comes
    // back in `buffer`, and the request also says how many bytes came (HidD_GetFeature does not), so a short
    // report reads short, as on Linux. ERROR_SUCCESS or the error code; ERROR_DEVICE_NOT_CONNECTED once the
    // handle was let go for a removal.
    DWORD Transfer(DWORD ioctl, std::vector<uint8_t>& buffer, DWORD& transferred)
    {
        const bool get = ioctl == IOCTL_HID_GET_FEATURE;
        return handle_->Use([&](HANDLE file) {
            const auto begin = [&](uint8_t* data, DWORD size, OVERLAPPED* overlapped) {
                return DeviceIoControl(file, ioctl, get ? nullptr : data, get ? 0 : size, get ? data : nullptr,
                                       get ? size : 0, nullptr, overlapped);
            };
            return requests_.Run(file, buffer, begin, stop_->load(), kTransferTimeoutMs, transferred);
        });
    }

    OverlappedRequests requests_;  // outlives the handle: what the driver keeps after it closes stays alive
    std::size_t featureLength_;
    std::shared_ptr<OpenHandle> handle_;
    std::shared_ptr<std::atomic<portable::WaitHandle>> stop_;
    std::shared_ptr<OpenDevices> devices_;
};

std::wstring DeviceIdOf(DEVINST node)
{
    ULONG size = 0;
    if (CM_Get_Device_ID_Size(&size, node, 0) != CR_SUCCESS || size == 0) {
        return {};
    }
    std::wstring id(size + 1, L'\0');
    if (CM_Get_Device_IDW(node, id.data(), static_cast<ULONG>(id.size()), 0) != CR_SUCCESS) {
        return {};
    }
    id.resize(std::wcslen(id.c_str()));
    return id;
}

bool ContainsIgnoringCase(std::wstring text, std::wstring part)
{
    for (std::wstring* s : {&text, &part}) {
        std::transform(s->begin(), s->end(), s->begin(), [](wchar_t c) { return std::towupper(c); });
    }
    return text.find(part) != std::wstring::npos;
}

// The USB device an interface's HID node belongs to, by its device instance ID: it names the device by its
// serial number, or by its hub and port when it has none, so a controller that restarts comes back under
// the same name. A composite device puts a node for each of its interfaces in between.
// Wine keeps no tree of device nodes (CM_Get_Parent fails); there the HID node's own instance ID, less its
// interface, names the device: "HID\VID_2E5A&PID_7410\0&T7410-000001&0&0", which carries the serial number.
std::string LocationOf(HDEVINFO list, SP_DEVINFO_DATA& hidNode)
{
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, hidNode.DevInst, 0) == CR_SUCCESS && parent != 0) {
        std::wstring id = DeviceIdOf(parent);
        DEVINST grandparent = 0;
        if (ContainsIgnoringCase(id, L"USB\\") && ContainsIgnoringCase(id, L"&MI_") &&
            CM_Get_Parent(&grandparent, parent, 0) == CR_SUCCESS && grandparent != 0) {
            id = DeviceIdOf(grandparent);
        }
        if (!id.empty()) {
            return portable::Narrow(id.c_str());
        }
    }
    DWORD size = 0;
    SetupDiGetDeviceInstanceIdW(list, &hidNode, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::wstring id(size, L'\0');
    if (!SetupDiGetDeviceInstanceIdW(list, &hidNode, id.data(), size, nullptr)) {
        return {};
    }
    id.resize(std::wcslen(id.c_str()));
    std::wstring upper = id;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return std::towupper(c); });
    const std::wstring::size_type mi = upper.find(L"&MI_");
    if (mi != std::wstring::npos && mi + 6 <= id.size()) {
        id.erase(mi, 6);
    }
    return portable::Narrow(id.c_str());
}

// The USB interface number a HID path carries ("...&mi_01#..."), or -1.
int InterfaceNumberOf(const std::string& path)
{
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const std::string::size_type at = lower.find("&mi_");
    if (at == std::string::npos || at + 6 > lower.size()) {
        return -1;
    }
    int value = 0;
    for (std::string::size_type i = at + 4; i < at + 6; ++i) {
        const char c = lower[i];
        if (c >= '0' && c <= '9') {
            value = value * 16 + (c - '0');
        } else if (c >= 'a' && c <= 'f') {
            value = value * 16 + (c - 'a' + 10);
        } else {
            return -1;
        }
    }
    return value;
}

}  // namespace

std::vector<HidDeviceInfo> WindowsHidPlatform::Enumerate(uint16_t vendorId)
{
    std::vector<HidDeviceInfo> result;
    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    HDEVINFO list = SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) {
        return result;
    }
    UniqueDeviceList listOwner(list);
    std::set<std::string> seen;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA entry{};
        entry.cbSize = sizeof entry;
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hidClass, index, &entry)) {
            break;  // ERROR_NO_MORE_ITEMS, or the list is unreadable: either way nothing follows
        }
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(list, &entry, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            continue;
        }
        // Whole DWORDs keep the record aligned as its fields need.
        std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);  // the fixed part only
        SP_DEVINFO_DATA node{};
        node.cbSize = sizeof node;
        if (!SetupDiGetDeviceInterfaceDetailW(list, &entry, detail, required, nullptr, &node)) {
            continue;
        }
        const std::wstring widePath = detail->DevicePath;
        std::string path = CanonicalDevicePath(portable::Narrow(widePath.c_str()));
        if (path.empty() || !seen.insert(path).second) {
            continue;
        }
        // The attributes come from the interface itself, as Open reports them, rather than from the letters
        // of its path, which only the USB stack spells with the vendor in them. Opening without access needs
        // no rights and does not reach the device.
        UniqueHandle query = OpenPath(widePath, 0);
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!query || !HidD_GetAttributes(query.get(), &attributes) || attributes.VendorID != vendorId) {
            continue;  // another vendor's, or a device leaving
        }
        query.reset();
        HidDeviceInfo info;
        info.path = std::move(path);
        info.vendorId = attributes.VendorID;
        info.productId = attributes.ProductID;
        // Only a refusal is a matter of access: an interface another program holds, or one that is leaving,
        // is still this user's to use.
        info.accessible =
            OpenPath(widePath, GENERIC_READ | GENERIC_WRITE) != nullptr || GetLastError() != ERROR_ACCESS_DENIED;
        info.interfaceNumber = InterfaceNumberOf(info.path);
        info.location = LocationOf(list, node);
        result.push_back(std::move(info));
    }
    return result;
}

std::unique_ptr<HidDevice> WindowsHidPlatform::Open(const std::string& path)
{
    // Overlapped, so that no transfer waits for ever on a controller that does not answer.
    UniqueHandle handle = OpenPath(portable::Widen(path), GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<WindowsHidDevice>(std::move(handle), path, stop_, devices_);
}

void WindowsHidPlatform::StopTransfersOn(portable::WaitHandle stop)
{
    stop_->store(stop);
}
