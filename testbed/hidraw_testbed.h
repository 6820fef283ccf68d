// The controller as the Linux kernel shows it, emulated with umockdev: a sysfs tree with the USB device, its
// interfaces, their HID devices and hidraw nodes; /dev nodes whose ioctls the virtual controller answers;
// and the uevents of plugging in and pulling out. Programs run under its preload libraries see a real
// hidraw device, so hidapi and libudev run unchanged. No Qt here.
#pragma once

#include "sim/virtual_controller.h"

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _GThreadPool GThreadPool;
typedef struct _GMainContext GMainContext;

namespace sim {

// One USB device: under it one usb interface, hid device and hidraw node per HID interface.
struct UsbHidDevice {
    std::string port;  // the USB port name, e.g. 1-1
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t bcdDevice = 0x0100;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::vector<std::vector<uint8_t>> interfaces;  // the report descriptor of each HID interface
    std::string unit;  // the virtual controller's unit whose path answers its nodes; empty for other devices
};

// The controller's report descriptor: a vendor page declaring its feature reports, IDs 1 to 5.
std::vector<uint8_t> ControllerReportDescriptor();

// The bench: the controller (the virtual controller's first unit) alone, or with `crowded` a second product of the same
// vendor that is not a controller, a device of another vendor, and a second HID interface on the controller.
std::vector<UsbHidDevice> BenchDevices(bool crowded);

class HidrawTestbed {
public:
    // The process must run under umockdev's preload library (the testbed's own paths go through it).
    HidrawTestbed(VirtualController& controller, std::vector<UsbHidDevice> devices, mode_t nodeMode);
    ~HidrawTestbed();
    HidrawTestbed(const HidrawTestbed&) = delete;
    HidrawTestbed& operator=(const HidrawTestbed&) = delete;

    // Empty when the testbed is ready; otherwise why not.
    const std::string& Error() const { return error_; }
    std::string RootDir() const;

    // Each event goes out as the kernel orders it: on plug-in the sysfs tree and the /dev node exist before
    // the hidraw device is announced; on pull-out the node goes first, then the remove events (deepest
    // first), then the sysfs tree.
    void Plug(std::size_t device);
    void Unplug(std::size_t device);
    bool IsPlugged(std::size_t device) const;
    // The moment of a pull-out when the kernel takes the device down in the middle of a listing: its HID
    // interfaces' uevent reads once, then no longer. It stays so until Unplug.
    void BeginLeaving(std::size_t device);

    // The device that stands for the virtual controller's unit at `unit`, made (on a port of its own, with
    // its own serial number, like the first controller) when there is none yet.
    std::size_t DeviceOfUnit(const std::string& unit);

    // The access mode of the /dev nodes, now and for later plug-ins (udev would set it by its rules).
    void SetNodeMode(mode_t mode);

    // One line per open, close and ioctl of a node, for tests to see what reached which device.
    void SetTrace(std::FILE* trace) { trace_ = trace; }

    struct Node;
    struct Transfer;

private:
    // A node for interface `i` of device `d` as the kernel gives one: the lowest minor that is free.
    Node* BindNode(std::size_t d, std::size_t i, const std::vector<Node*>& taken);
    Node* NewNode();
    void AdmitEveryone();  // the ioctl sockets admit an unprivileged program too
    static int OnIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
    static void RunTransfer(void* transfer, void* self);  // on a thread of the pool
    static int AnswerTransfer(void* transfer);            // on the testbed's context
    static void OnConnected(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
    static void OnVanished(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
    int HandleIoctl(Node& node, UMockdevIoctlClient* client);
    void Trace(const Node& node, const std::string& what);

    VirtualController& controller_;
    std::vector<UsbHidDevice> devices_;
    mode_t nodeMode_;
    UMockdevTestbed* testbed_ = nullptr;
    std::string error_;
    std::vector<std::unique_ptr<Node>> nodes_;  // by minor; each bound to the device that had it last
    // The kernel names HID devices from a counter that only grows, so a device plugged in again never takes
    // the name of one still being removed (Wine's HID bus drops such a device as a duplicate).
    unsigned hidSequence_ = 0;
    std::map<std::size_t, std::vector<std::string>> syspaths_;  // per plugged device, parents first
    std::FILE* trace_ = nullptr;
    GMainContext* context_ = nullptr;  // where the ioctls are answered
    GThreadPool* pool_ = nullptr;      // the transfers to units with a latency
};

}  // namespace sim
