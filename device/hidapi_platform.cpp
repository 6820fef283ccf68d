#include "device/hidapi_platform.h"

#include "device/hidraw_listing.h"

#include <hidapi/hidapi.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <utility>

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
    HidapiDevice(hid_device* dev, std::string path) : dev_(dev), path_(std::move(path)) {}
    ~HidapiDevice() override { hid_close(dev_); }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    // From udev, as the listing: hidapi 0.13's hid_get_device_info reads past a device that is leaving.
    std::optional<HidAttributes> GetAttributes() override { return HidrawNodeAttributes(path_); }

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
    const std::string path_;
};

}  // namespace

HidapiPlatform::HidapiPlatform() : initialised_(hid_init() == 0) {}

HidapiPlatform::~HidapiPlatform()
{
    if (initialised_) {
        hid_exit();
    }
}

std::vector<HidDeviceInfo> HidapiPlatform::Enumerate(uint16_t vendorId)
{
    if (!initialised_) {
        return {};
    }
    // Filtering by vendor here keeps unrelated devices (keyboards, mice) from ever being opened.
    return ListHidrawNodes(vendorId);
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
    std::lock_guard lock(opening_);
    hid_device* dev = hid_open_path(path.c_str());
    if (dev == nullptr) {
        return nullptr;
    }
    return std::make_unique<HidapiDevice>(dev, path);
}
