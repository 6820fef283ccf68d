// A scripted HID platform for the discovery and transfer tests: a list of interfaces, each with the
// attributes its open handle reports, and a record of every open and close.
#pragma once

#include "device/hid_platform.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct FakeInterface {
    std::string path;
    uint16_t vendorId;
    uint16_t productId;
    bool openable = true;
    bool attributesReadable = true;
};

struct FakeEvents {
    std::vector<std::string> opened;
    std::vector<std::string> closed;
    std::vector<uint16_t> enumeratedVendors;
};

class FakeDevice : public HidDevice {
public:
    FakeDevice(FakeInterface iface, std::shared_ptr<FakeEvents> events)
        : iface_(std::move(iface)), events_(std::move(events))
    {
    }
    ~FakeDevice() override { events_->closed.push_back(iface_.path); }

    std::optional<HidAttributes> GetAttributes() override
    {
        if (!iface_.attributesReadable) {
            return std::nullopt;
        }
        return HidAttributes{iface_.vendorId, iface_.productId};
    }

    // Tests replace these to script the device's answers.
    std::function<int(uint8_t*, std::size_t, std::string&)> onGet = [](uint8_t*, std::size_t n, std::string&) {
        return static_cast<int>(n);
    };
    std::function<int(const uint8_t*, std::size_t, std::string&)> onSet =
        [](const uint8_t*, std::size_t n, std::string&) { return static_cast<int>(n); };

    int GetFeature(uint8_t* data, std::size_t length, std::string& error) override
    {
        return onGet(data, length, error);
    }
    int SetFeature(const uint8_t* data, std::size_t length, std::string& error) override
    {
        return onSet(data, length, error);
    }

    const std::string& Path() const { return iface_.path; }

private:
    FakeInterface iface_;
    std::shared_ptr<FakeEvents> events_;
};

class FakePlatform : public HidPlatform {
public:
    std::vector<FakeInterface> interfaces;
    std::shared_ptr<FakeEvents> events = std::make_shared<FakeEvents>();
    FakeDevice* lastOpened = nullptr;            // owned by whoever holds the handle
    std::function<void(FakeDevice&)> configure;  // applied to every device when it is opened

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId) override
    {
        events->enumeratedVendors.push_back(vendorId);
        std::vector<HidDeviceInfo> result;
        for (const FakeInterface& i : interfaces) {
            if (vendorId == 0 || i.vendorId == vendorId) {
                result.push_back({i.path, i.vendorId, i.productId, i.openable, -1, {}});
            }
        }
        return result;
    }

    std::unique_ptr<HidDevice> Open(const std::string& path) override
    {
        for (const FakeInterface& i : interfaces) {
            if (i.path == path && i.openable) {
                events->opened.push_back(path);
                auto device = std::make_unique<FakeDevice>(i, events);
                if (configure) {
                    configure(*device);
                }
                lastOpened = device.get();
                return device;
            }
        }
        return nullptr;
    }
};
