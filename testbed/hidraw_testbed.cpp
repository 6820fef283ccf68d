#include "testbed/hidraw_testbed.h"

#include "device/device_link.h"
#include "sim/controller_reports.h"
#include "sim/defaults.h"

#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace sim {

namespace {

constexpr int kHidrawMajor = 241;
constexpr uint16_t kBusUsb = 0x0003;

std::string Hex4(uint16_t value, bool upper)
{
    char text[8];
    std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", value);
    return text;
}

// A vendor-page application collection that declares one feature report per entry (ID, data bytes).
void AppendCollection(std::vector<uint8_t>& d, uint8_t usage, const std::vector<std::pair<uint8_t, uint8_t>>& reports)
{
    // A report descriptor laid out one item a line.
    // clang-format off
    const uint8_t head[] = {0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
                            0x09, usage,       // Usage
                            0xA1, 0x01,        // Collection (Application)
                            0x15, 0x00,        //   Logical Minimum 0
                            0x26, 0xFF, 0x00,  //   Logical Maximum 255
                            0x75, 0x08};       //   Report Size 8
    // clang-format on
    d.insert(d.end(), std::begin(head), std::end(head));
    for (auto [id, count] : reports) {
        const uint8_t item[] = {0x85, id,     // Report ID
                                0x95, count,  // Report Count
                                0x09, id,     // Usage
                                0xB1, 0x02};  // Feature (Data, Variable, Absolute)
        d.insert(d.end(), std::begin(item), std::end(item));
    }
    d.push_back(0xC0);  // End Collection
}

// The data bytes of a report: its length less the report ID.
constexpr uint8_t DataBytes(std::size_t length)
{
    return static_cast<uint8_t>(length - 1);
}

}  // namespace

std::vector<uint8_t> ControllerReportDescriptor()
{
    std::vector<uint8_t> d;
    namespace r = sim::reports;  // the reports as the controller itself describes them
    AppendCollection(d, 0x01,
                     {{r::kStatusId, DataBytes(r::kStatusLength)},
                      {r::kBootId, DataBytes(r::kBootLength)},
                      {r::kParameterId, DataBytes(r::kParameterLength)},
                      {r::kSettingsId, DataBytes(r::kSettingsLength)},
                      {r::kStringPoolId, DataBytes(r::kStringPoolLength)}});
    return d;
}

std::vector<UsbHidDevice> BenchDevices(bool crowded)
{
    UsbHidDevice controllerDevice{
        "1-2",          controller::kVendorId,          kProductId, 0x0105, "Tavrel", "7410 Door-Phone Controller",
        "T7410-000001", {ControllerReportDescriptor()}, kDevicePath};
    if (!crowded) {
        return {controllerDevice};
    }
    // A second top-level collection makes hidapi list the first interface's path once per usage, and a
    // second interface gives the controller a second node, which discovery must never reach.
    std::vector<uint8_t> twoUsages = ControllerReportDescriptor();
    AppendCollection(twoUsages, 0x02, {{6, 7}});
    controllerDevice.interfaces = {twoUsages, ControllerReportDescriptor()};
    // Ports sort before the controller's, so discovery meets these first.
    UsbHidDevice otherProduct{"1-1",  controller::kVendorId,          0x0001, 0x0100, "Tavrel", "Tavrel Service Dongle",
                              "D-01", {ControllerReportDescriptor()}, ""};
    UsbHidDevice otherVendor{
        "1-10", 0x046D, 0xC52B, 0x1211, "Logitech", "USB Receiver", "", {ControllerReportDescriptor()}, ""};
    return {otherProduct, otherVendor, controllerDevice};
}

struct HidrawTestbed::Node {
    HidrawTestbed* owner = nullptr;
    std::size_t device = 0;
    std::size_t interface = 0;
    int minor = 0;
    std::string name;     // hidraw0
    std::string devnode;  // /dev/hidraw0
    UMockdevIoctlBase* handler = nullptr;
    std::map<UMockdevIoctlClient*, std::shared_ptr<Connection>> clients;
};

HidrawTestbed::HidrawTestbed(VirtualController& controller, std::vector<UsbHidDevice> devices, mode_t nodeMode)
    : controller_(controller), devices_(std::move(devices)), nodeMode_(nodeMode)
{
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        error_ = "not running under umockdev's preload library";
        return;
    }
    testbed_ = umockdev_testbed_new();
    // An unprivileged program run inside must be able to read the tree and to make its event socket here.
    chmod(RootDir().c_str(), 01777);
    std::filesystem::create_directories(RootDir() + "/dev");
    for (std::size_t d = 0; d < devices_.size() && error_.empty(); ++d) {
        for (std::size_t i = 0; i < devices_[d].interfaces.size(); ++i) {
            if (Node* node = NewNode()) {
                node->device = d;
                node->interface = i;
            }
        }
    }
    AdmitEveryone();
    context_ = g_main_context_ref_thread_default();
    pool_ = g_thread_pool_new(&HidrawTestbed::RunTransfer, this, -1, FALSE, nullptr);
}

// A feature report to a unit that takes its time (its latency): made on a thread of the pool, so that the
// other units' nodes are answered meanwhile, as each USB device answers on its own; answered on the testbed's
// context.
struct HidrawTestbed::Transfer {
    std::shared_ptr<Connection> connection;
    UMockdevIoctlClient* client = nullptr;  // referenced until answered
    UMockdevIoctlData* buffer = nullptr;    // referenced until answered
    bool isGet = false;
    std::vector<uint8_t> bytes;
    int result = 0;
    int errnum = 0;
};

void HidrawTestbed::RunTransfer(void* data, void* self)
{
    auto* t = static_cast<Transfer*>(data);
    std::string text;
    t->result = t->isGet ? t->connection->GetFeature(t->bytes.data(), t->bytes.size(), text)
                         : t->connection->SetFeature(t->bytes.data(), t->bytes.size(), text);
    if (t->result < 0) {
        t->errnum = t->connection->LastErrno() ? t->connection->LastErrno() : EIO;
    }
    g_main_context_invoke(static_cast<HidrawTestbed*>(self)->context_, &HidrawTestbed::AnswerTransfer, t);
}

int HidrawTestbed::AnswerTransfer(void* data)
{
    std::unique_ptr<Transfer> t(static_cast<Transfer*>(data));
    if (t->isGet && t->result > 0) {
        umockdev_ioctl_data_update(t->buffer, 0, t->bytes.data(), t->result);
    }
    umockdev_ioctl_client_complete(t->client, t->result < 0 ? -1 : t->result, t->result < 0 ? t->errnum : 0);
    g_object_unref(t->buffer);
    g_object_unref(t->client);
    return G_SOURCE_REMOVE;
}

HidrawTestbed::Node* HidrawTestbed::NewNode()
{
    auto node = std::make_unique<Node>();
    node->owner = this;
    node->minor = static_cast<int>(nodes_.size());
    node->name = "hidraw" + std::to_string(node->minor);
    node->devnode = "/dev/" + node->name;
    node->handler = umockdev_ioctl_base_new();
    g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(&HidrawTestbed::OnIoctl), node.get());
    g_signal_connect(node->handler, "client-connected", G_CALLBACK(&HidrawTestbed::OnConnected), node.get());
    g_signal_connect(node->handler, "client-vanished", G_CALLBACK(&HidrawTestbed::OnVanished), node.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node->devnode.c_str(), node->handler, &error)) {
        error_ = "cannot emulate the ioctls of " + node->devnode + ": " + (error ? error->message : "?");
        g_clear_error(&error);
        g_object_unref(node->handler);
        return nullptr;
    }
    nodes_.push_back(std::move(node));
    return nodes_.back().get();
}

void HidrawTestbed::AdmitEveryone()
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(RootDir() + "/ioctl", ec)) {
        chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0777);
    }
}

HidrawTestbed::~HidrawTestbed()
{
    if (pool_) {
        g_thread_pool_free(pool_, FALSE, TRUE);  // the transfers under way end; their answers go nowhere
    }
    if (context_) {
        g_main_context_unref(context_);
    }
    for (auto& node : nodes_) {
        node->clients.clear();
        if (testbed_) {
            umockdev_testbed_detach_ioctl(testbed_, node->devnode.c_str(), nullptr);
        }
        g_object_unref(node->handler);
    }
    if (testbed_) {
        g_object_unref(testbed_);
    }
}

std::string HidrawTestbed::RootDir() const
{
    if (!testbed_) {
        return {};
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string result = root ? root : "";
    g_free(root);
    return result;
}

std::size_t HidrawTestbed::DeviceOfUnit(const std::string& unit)
{
    std::size_t first = devices_.size();
    for (std::size_t d = 0; d < devices_.size(); ++d) {
        if (devices_[d].unit == unit) {
            return d;
        }
        if (!devices_[d].unit.empty() && first == devices_.size()) {
            first = d;
        }
    }
    UsbHidDevice added = first < devices_.size() ? devices_[first] : BenchDevices(false).front();
    const std::size_t count = static_cast<std::size_t>(
        std::count_if(devices_.begin(), devices_.end(), [](const UsbHidDevice& d) { return !d.unit.empty(); }));
    added.port = "3-" + std::to_string(count);
    char serial[32];
    std::snprintf(serial, sizeof serial, "T7410-%06zu", count + 1);
    added.serial = serial;
    added.unit = unit;
    devices_.push_back(std::move(added));
    return devices_.size() - 1;
}

HidrawTestbed::Node* HidrawTestbed::BindNode(std::size_t d, std::size_t i, const std::vector<Node*>& taken)
{
    auto isFree = [&](const Node& n) {
        return !IsPlugged(n.device) && std::find(taken.begin(), taken.end(), &n) == taken.end();
    };
    // The node it had before, when no other took it meanwhile; else the lowest free minor; else a new one.
    for (const auto& node : nodes_) {
        if (node->device == d && node->interface == i && isFree(*node)) {
            return node.get();
        }
    }
    Node* node = nullptr;
    for (const auto& n : nodes_) {
        if (isFree(*n)) {
            node = n.get();
            break;
        }
    }
    if (node == nullptr && (node = NewNode()) != nullptr) {
        AdmitEveryone();
    }
    if (node) {
        node->clients.clear();  // what was open on it belonged to the device that left
        node->device = d;
        node->interface = i;
    }
    return node;
}

bool HidrawTestbed::IsPlugged(std::size_t device) const
{
    return syspaths_.count(device) != 0;
}

void HidrawTestbed::SetNodeMode(mode_t mode)
{
    nodeMode_ = mode;
    for (const auto& node : nodes_) {
        if (IsPlugged(node->device)) {
            chmod((RootDir() + node->devnode).c_str(), mode);
        }
    }
}

void HidrawTestbed::Plug(std::size_t d)
{
    if (!testbed_ || d >= devices_.size() || IsPlugged(d)) {
        return;
    }
    const UsbHidDevice& dev = devices_[d];
    std::vector<Node*> bound;
    for (std::size_t i = 0; i < dev.interfaces.size(); ++i) {
        if (Node* node = BindNode(d, i, bound)) {
            bound.push_back(node);
        }
    }
    const std::string root = RootDir();
    std::vector<std::string>& paths = syspaths_[d];
    auto take = [&paths](gchar* path) {
        std::string s = path ? path : "";
        g_free(path);
        paths.push_back(s);
        return s;
    };
    const std::string usb = take(umockdev_testbed_add_device(
        testbed_, "usb", dev.port.c_str(), nullptr, "idVendor", Hex4(dev.vendorId, false).c_str(), "idProduct",
        Hex4(dev.productId, false).c_str(), "bcdDevice", Hex4(dev.bcdDevice, false).c_str(), "manufacturer",
        dev.manufacturer.c_str(), "product", dev.product.c_str(), "serial", dev.serial.c_str(), nullptr, "DEVTYPE",
        "usb_device", "PRODUCT",
        (Hex4(dev.vendorId, false) + "/" + Hex4(dev.productId, false) + "/" + Hex4(dev.bcdDevice, false)).c_str(),
        nullptr));
    for (Node* node : bound) {
        const std::string number = "0" + std::to_string(node->interface);
        const std::string iface = take(
            umockdev_testbed_add_device(testbed_, "usb", (dev.port + ":1." + std::to_string(node->interface)).c_str(),
                                        usb.c_str(), "bInterfaceNumber", number.c_str(), "bInterfaceClass", "03",
                                        nullptr, "DEVTYPE", "usb_interface", "INTERFACE", "3/0/0", nullptr));
        char hidName[32];
        std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", dev.vendorId, dev.productId, ++hidSequence_);
        const std::string hidId = "0003:0000" + Hex4(dev.vendorId, true) + ":0000" + Hex4(dev.productId, true);
        const std::string phys = "usb-0000:00:14.0-" + dev.port + "/input" + std::to_string(node->interface);
        const std::string hid =
            take(umockdev_testbed_add_device(testbed_, "hid", hidName, iface.c_str(), nullptr, "HID_ID", hidId.c_str(),
                                             "HID_NAME", (dev.manufacturer + " " + dev.product).c_str(), "HID_PHYS",
                                             phys.c_str(), "HID_UNIQ", dev.serial.c_str(), nullptr));
        std::vector<uint8_t> descriptor = dev.interfaces[node->interface];
        umockdev_testbed_set_attribute_binary(testbed_, hid.c_str(), "report_descriptor", descriptor.data(),
                                              static_cast<int>(descriptor.size()));
        // The kernel has the node and the link to the hid parent in place before it announces the device.
        std::filesystem::create_directories(root + hid + "/hidraw/" + node->name);
        std::error_code ec;
        std::filesystem::create_directory_symlink("../..", root + hid + "/hidraw/" + node->name + "/device", ec);
        const std::string file = root + node->devnode;
        if (std::FILE* f = std::fopen(file.c_str(), "w")) {
            std::fclose(f);
        }
        chmod(file.c_str(), nodeMode_);
        const std::string majorMinor = std::to_string(kHidrawMajor) + ":" + std::to_string(node->minor);
        take(umockdev_testbed_add_device(testbed_, "hidraw", ("hidraw/" + node->name).c_str(), hid.c_str(), "dev",
                                         majorMinor.c_str(), nullptr, "DEVNAME", node->devnode.c_str(), "MAJOR",
                                         std::to_string(kHidrawMajor).c_str(), "MINOR",
                                         std::to_string(node->minor).c_str(), nullptr));
    }
}

void HidrawTestbed::Unplug(std::size_t d)
{
    auto it = syspaths_.find(d);
    if (!testbed_ || it == syspaths_.end()) {
        return;
    }
    const std::string root = RootDir();
    for (const auto& node : nodes_) {
        if (node->device == d) {
            unlink((root + node->devnode).c_str());
        }
    }
    // Deepest first: children were added after their parents.
    std::vector<std::string> paths = std::move(it->second);
    syspaths_.erase(it);
    std::sort(paths.begin(), paths.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& path : paths) {
        umockdev_testbed_uevent(testbed_, path.c_str(), "remove");
    }
    for (const std::string& path : paths) {
        umockdev_testbed_remove_device(testbed_, path.c_str());
    }
}

void HidrawTestbed::BeginLeaving(std::size_t d)
{
    auto it = syspaths_.find(d);
    if (!testbed_ || it == syspaths_.end()) {
        return;
    }
    for (const std::string& path : it->second) {
        if (std::filesystem::path(path).filename().string().rfind("0003:", 0) == 0) {  // a USB HID interface
            // A plain read still finds the text (through a link), but udev's attribute read, which refuses a
            // link, finds nothing: two reads of one listing see the device before and after it went.
            const std::string uevent = RootDir() + path + "/uevent";
            std::error_code ec;
            std::filesystem::rename(uevent, uevent + ".last", ec);
            std::filesystem::create_symlink("uevent.last", uevent, ec);
        }
    }
}

void HidrawTestbed::Trace(const Node& node, const std::string& what)
{
    if (trace_) {
        std::fprintf(trace_, "%s %s\n", node.devnode.c_str(), what.c_str());
        std::fflush(trace_);
    }
}

void HidrawTestbed::OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* data)
{
    Node& node = *static_cast<Node*>(data);
    HidrawTestbed& bed = *node.owner;
    bed.Trace(node, "open");
    // A node of the controller is a fresh connection to it; one opened before a pull-out stays dead.
    const std::string& unit = bed.devices_[node.device].unit;
    node.clients[client] = unit.empty() ? nullptr : bed.controller_.Connect(unit);
}

void HidrawTestbed::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* data)
{
    Node& node = *static_cast<Node*>(data);
    node.owner->Trace(node, "close");
    node.clients.erase(client);
}

int HidrawTestbed::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* data)
{
    Node& node = *static_cast<Node*>(data);
    return node.owner->HandleIoctl(node, client);
}

int HidrawTestbed::HandleIoctl(Node& node, UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const unsigned size = _IOC_SIZE(request);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto complete = [client](long result, int errnum) {
        umockdev_ioctl_client_complete(client, result, errnum);
        return 1;
    };
    auto reply = [&](const void* bytes, std::size_t length) {
        GError* error = nullptr;
        UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, length, &error);
        if (target == nullptr) {
            g_clear_error(&error);
            return false;
        }
        std::vector<uint8_t> copy(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + length);
        umockdev_ioctl_data_update(target, 0, copy.data(), static_cast<int>(copy.size()));
        return true;
    };

    // A node whose device has gone answers nothing, as hidraw does after a disconnect.
    Connection* connection = nullptr;
    if (auto it = node.clients.find(client); it != node.clients.end()) {
        connection = it->second.get();
    }
    const bool isController = !devices_[node.device].unit.empty();
    if (!IsPlugged(node.device) || (isController && (connection == nullptr || !connection->GetAttributes()))) {
        Trace(node, "ioctl after the device left");
        return complete(-1, ENODEV);
    }
    const UsbHidDevice& dev = devices_[node.device];
    const std::vector<uint8_t>& descriptor = dev.interfaces[node.interface];

    if (request == HIDIOCGRDESCSIZE) {
        const int descriptorSize = static_cast<int>(descriptor.size());
        return reply(&descriptorSize, sizeof descriptorSize) ? complete(0, 0) : complete(-1, EFAULT);
    }
    if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor out{};
        out.size = static_cast<uint32_t>(descriptor.size());
        std::copy(descriptor.begin(), descriptor.end(), out.value);
        return reply(&out, sizeof out) ? complete(0, 0) : complete(-1, EFAULT);
    }
    if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = kBusUsb;
        info.vendor = static_cast<int16_t>(dev.vendorId);
        info.product = static_cast<int16_t>(dev.productId);
        return reply(&info, sizeof info) ? complete(0, 0) : complete(-1, EFAULT);
    }
    const unsigned nr = _IOC_NR(request);
    const bool isGet = _IOC_TYPE(request) == 'H' && nr == _IOC_NR(HIDIOCGFEATURE(0));
    const bool isSet = _IOC_TYPE(request) == 'H' && nr == _IOC_NR(HIDIOCSFEATURE(0));
    if (!isGet && !isSet) {
        Trace(node, "unknown ioctl");
        return complete(-1, ENOTTY);
    }
    GError* error = nullptr;
    UMockdevIoctlData* buffer = size ? umockdev_ioctl_data_resolve(arg, 0, size, &error) : nullptr;
    if (buffer == nullptr) {
        g_clear_error(&error);
        return complete(-1, EFAULT);
    }
    Trace(node, std::string(isGet ? "get feature " : "set feature ") + std::to_string(size));
    if (!isController) {
        return complete(-1, EPIPE);  // not a report this device has
    }
    std::vector<uint8_t> bytes(buffer->data, buffer->data + size);
    const std::optional<VirtualUnit> unit = controller_.FindUnit(dev.unit);
    if (unit && unit->Latency().count() > 0) {
        auto t = std::make_unique<Transfer>();
        t->connection = node.clients[client];
        t->client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        t->buffer = static_cast<UMockdevIoctlData*>(g_object_ref(buffer));
        t->isGet = isGet;
        t->bytes = std::move(bytes);
        g_thread_pool_push(pool_, t.release(), nullptr);
        return 1;  // answered when the transfer is done
    }
    std::string text;
    const int n = isGet ? connection->GetFeature(bytes.data(), bytes.size(), text)
                        : connection->SetFeature(bytes.data(), bytes.size(), text);
    if (n < 0) {
        return complete(-1, connection->LastErrno() ? connection->LastErrno() : EIO);
    }
    if (isGet && n > 0) {
        umockdev_ioctl_data_update(buffer, 0, bytes.data(), n);
    }
    return complete(n, 0);
}

}  // namespace sim
