// windows_hid_probe: drives the Windows HID backend and hot-plug monitor against the emulated controller
// (under Wine, inside emulate-controller) and says what each step saw. Exits 0 only when every step of the
// chosen check passed.
//
//   windows_hid_probe list VID...   every interface of these vendors (hex), as Enumerate gives them
//   windows_hid_probe wait [VID:PID[:COUNT]...]  returns once these are listed (default: the controller)
//   windows_hid_probe short         a status get the emulator answers with 2 bytes (--apply "answer 1 01 00")
//   windows_hid_probe transfers     open the controller and move each of its reports through the backend
//   windows_hid_probe lengths       which buffer lengths hid.dll itself takes for each report
//   windows_hid_probe hotplug       unplug and plug the controller through the emulator's control FIFO and
//                                   see the monitor report both, under the listed path
//   windows_hid_probe query-remove  with the controller open, the notices Windows sends its handle when asked to
//                                   remove it (Wine sends none: here they are sent as Windows would), and see the
//                                   handle let go and the interface reported removed, then added on the veto
#include "device/device_path.h"
#include "device/reports.h"
#include "device/windows_hid_platform.h"
#include "device/windows_hotplug.h"
#include "portable/windows_text.h"

#include <windows.h>
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kVendor = 0x2E5A;
constexpr uint16_t kProduct = 0x7410;

int failures = 0;

void Check(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++failures;
    }
}

std::string Hex(const uint8_t* data, std::size_t length)
{
    std::string out;
    char byte[4];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
    }
    return out;
}

void Print(const HidDeviceInfo& info)
{
    std::printf("  %04x:%04x interface=%d accessible=%d location=%s\n    path=%s\n", info.vendorId, info.productId,
                info.interfaceNumber, info.accessible ? 1 : 0, info.location.c_str(), info.path.c_str());
}

std::optional<HidDeviceInfo> FindController(WindowsHidPlatform& platform)
{
    for (const HidDeviceInfo& info : platform.Enumerate(kVendor)) {
        if (info.productId == kProduct && info.interfaceNumber <= 0) {
            return info;
        }
    }
    return std::nullopt;
}

int List(int argc, char** argv)
{
    WindowsHidPlatform platform;
    for (int i = 2; i < argc; ++i) {
        const auto vendor = static_cast<uint16_t>(std::strtoul(argv[i], nullptr, 16));
        const std::vector<HidDeviceInfo> found = platform.Enumerate(vendor);
        std::printf("vendor %04x: %zu interface(s)\n", vendor, found.size());
        for (const HidDeviceInfo& info : found) {
            Print(info);
        }
    }
    return 0;
}

// Each argument is VID:PID[:COUNT], in hex: that many interfaces of the product (one by default).
int Wait(int argc, char** argv)
{
    struct Wanted {
        uint16_t vendor;
        uint16_t product;
        std::size_t count;
    };
    std::vector<Wanted> wanted;
    for (int i = 2; i < argc; ++i) {
        unsigned vendor = 0;
        unsigned product = 0;
        unsigned count = 1;
        if (std::sscanf(argv[i], "%x:%x:%x", &vendor, &product, &count) < 2) {
            std::fprintf(stderr, "wait: %s is not VID:PID[:COUNT]\n", argv[i]);
            return 2;
        }
        wanted.push_back({static_cast<uint16_t>(vendor), static_cast<uint16_t>(product), count});
    }
    if (wanted.empty()) {
        wanted.push_back({kVendor, kProduct, 1});
    }
    WindowsHidPlatform platform;
    const DWORD start = GetTickCount();
    auto listed = [&] {
        for (const Wanted& w : wanted) {
            const std::vector<HidDeviceInfo> found = platform.Enumerate(w.vendor);
            const auto n = std::count_if(found.begin(), found.end(),
                                         [&](const HidDeviceInfo& info) { return info.productId == w.product; });
            if (static_cast<std::size_t>(n) < w.count) {
                return false;
            }
        }
        return true;
    };
    while (!listed()) {
        Sleep(50);
    }
    std::printf("listed after %lu ms\n", GetTickCount() - start);
    return 0;
}

// Run with the emulator told "answer 1 01 00" up front (a control line sent now could arrive after the get).
int ShortAnswer()
{
    WindowsHidPlatform platform;
    const std::optional<HidDeviceInfo> info = FindController(platform);
    std::unique_ptr<HidDevice> device = info ? platform.Open(info->path) : nullptr;
    Check(device != nullptr, "the controller opens");
    if (!device) {
        return 1;
    }
    std::vector<uint8_t> status(report::kStatusLength, 0xEE);
    status[0] = report::kStatusId;
    std::string error;
    const int n = device->GetFeature(status.data(), status.size(), error);
    Check(n == 2 && status[1] == 0 && status[2] == 0xEE,
          "a 2-byte answer to an 8-byte get reads as 2 bytes, as on Linux: " + (n < 0 ? error : std::to_string(n)));
    return failures == 0 ? 0 : 1;
}

int Transfers()
{
    WindowsHidPlatform platform;
    const std::optional<HidDeviceInfo> info = FindController(platform);
    Check(info.has_value(), "the controller is listed");
    if (!info) {
        return 1;
    }
    Print(*info);
    Check(!info->location.empty(), "it has a location");
    std::unique_ptr<HidDevice> device = platform.Open(info->path);
    Check(device != nullptr, "it opens for reading and writing");
    if (!device) {
        return 1;
    }
    const std::optional<HidAttributes> attributes = device->GetAttributes();
    Check(attributes && attributes->vendorId == kVendor && attributes->productId == kProduct, "its attributes");

    std::string error;
    auto get = [&](uint8_t id, std::size_t length, const char* what) {
        std::vector<uint8_t> buffer(length, 0xEE);
        buffer[0] = id;
        const int n = device->GetFeature(buffer.data(), length, error);
        Check(n == static_cast<int>(length) && buffer[0] == id,
              std::string("get ") + what + " (ID " + std::to_string(id) + ", " + std::to_string(length) +
                  " bytes): " + (n < 0 ? error : Hex(buffer.data(), static_cast<std::size_t>(n))));
        return buffer;
    };
    auto set = [&](const std::vector<uint8_t>& buffer, const char* what) {
        const int n = device->SetFeature(buffer.data(), buffer.size(), error);
        Check(n == static_cast<int>(buffer.size()), std::string("set ") + what + " (ID " + std::to_string(buffer[0]) +
                                                        ", " + std::to_string(buffer.size()) + " bytes)" +
                                                        (n < 0 ? ": " + error : std::string()));
    };

    get(report::kStatusId, report::kStatusLength, "status");
    const std::vector<uint8_t> before = get(report::kSettingsId, report::kSettingsLength, "settings");
    get(report::kStringPoolId, report::kStringPoolLength, "string pool");

    // Switch the first dial setting between its first two choices, and read it back.
    const int position = report::SettingsPosition(1, 1);
    const int value = before[position] == 1 ? 0 : 1;
    std::vector<uint8_t> parameter(report::kParameterLength, 0);
    EncodeNumericParameter(std::span<uint8_t, report::kLongLength>(parameter.data(), report::kLongLength), 1, 1, value);
    set(parameter, ("parameter (1,1) = " + std::to_string(value)).c_str());
    const std::vector<uint8_t> after = get(report::kSettingsId, report::kSettingsLength, "settings again");
    Check(after[position] == value, "the setting reads back as " + std::to_string(value));

    // A buffer shorter than the report is refused before it reaches the device; the backend then asks with
    // a buffer of the longest feature report and hands back the part asked for.
    std::vector<uint8_t> shorter(report::kSettingsLength - 1, 0);
    shorter[0] = report::kSettingsId;
    const int got = device->GetFeature(shorter.data(), shorter.size(), error);
    Check(got == static_cast<int>(shorter.size()) && std::equal(shorter.begin(), shorter.end(), after.begin()),
          "a 62-byte get of the settings comes back through the 63-byte buffer" + (got < 0 ? ": " + error : ""));

    std::vector<uint8_t> boot(report::kBootLength, 0);
    EncodeBootReport(std::span<uint8_t, report::kBootLength>(boot.data(), report::kBootLength));
    set(boot, "boot");
    // One data record; without an end record the controller keeps waiting and does not restart.
    std::vector<uint8_t> chunk(report::kFirmwareChunkLength, 0);
    chunk[0] = report::kFirmwareChunkId;
    chunk[1] = report::kFirmwareChunkCommand;
    const char* line = ":0100000000FF.";
    std::memcpy(chunk.data() + 2, line, std::strlen(line));
    set(chunk, "firmware chunk");

    // A report the controller refuses fails with the system's text.
    std::vector<uint8_t> wrong(report::kParameterLength, 0);
    wrong[0] = report::kParameterId;
    const int n = device->SetFeature(wrong.data(), wrong.size(), error);
    Check(n == -1 && !error.empty() && error.back() != '\n', "a refused parameter fails with a text: " + error);
    return failures == 0 ? 0 : 1;
}

int Lengths()
{
    WindowsHidPlatform platform;
    const std::optional<HidDeviceInfo> info = FindController(platform);
    if (!info) {
        std::printf("no controller\n");
        return 1;
    }
    HANDLE h = CreateFileW(portable::Widen(info->path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("cannot open: %s\n", portable::SystemErrorText(GetLastError()).c_str());
        return 1;
    }
    PHIDP_PREPARSED_DATA data = nullptr;
    HIDP_CAPS caps{};
    if (HidD_GetPreparsedData(h, &data)) {
        HidP_GetCaps(data, &caps);
        HidD_FreePreparsedData(data);
    }
    std::printf("FeatureReportByteLength=%u\n", caps.FeatureReportByteLength);
    struct Try {
        bool set;
        uint8_t id;
        ULONG length;
    };
    const Try tries[] = {{false, 1, 7},  {false, 1, 8},  {false, 1, 63}, {false, 4, 62}, {false, 4, 63},
                         {false, 4, 64}, {false, 5, 63}, {true, 2, 6},   {true, 2, 7},   {true, 2, 63},
                         {true, 3, 62},  {true, 3, 63},  {true, 5, 63}};
    for (const Try& t : tries) {
        std::vector<uint8_t> buffer(t.length, 0);
        buffer[0] = t.id;
        if (t.set && t.id == 2) {
            buffer[1] = report::kBootCommand;
        }
        if (t.set && t.id == 3) {
            EncodeRestoreDefaults(std::span<uint8_t, report::kLongLength>(buffer.data(), report::kLongLength));
        }
        const BOOL ok =
            t.set ? HidD_SetFeature(h, buffer.data(), t.length) : HidD_GetFeature(h, buffer.data(), t.length);
        std::printf("%s ID %u, %2lu bytes: %s\n", t.set ? "set" : "get", t.id, t.length,
                    ok ? "accepted" : portable::SystemErrorText(GetLastError()).c_str());
    }
    CloseHandle(h);
    return 0;
}

// Sends a line to the emulator's control FIFO, through Wine's Z: drive.
bool Control(const char* line)
{
    const char* fifo = std::getenv("EMULATE_CONTROLLER_CONTROL");
    if (fifo == nullptr) {
        return false;
    }
    std::string path = std::string("Z:") + fifo;
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    HANDLE h = CreateFileW(portable::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    const std::string text = std::string(line) + "\n";
    DWORD written = 0;
    const bool ok =
        WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    CloseHandle(h);
    return ok;
}

// Waits for the monitor's next event of `action` (printing every event), and returns its path; empty when
// the monitor's handle was ready with nothing to read, or `path` came with the other action.
std::string Await(WindowsHotplugMonitor& monitor, HotplugAction action, const std::string& path)
{
    const DWORD start = GetTickCount();
    for (;;) {
        WaitForSingleObject(monitor.Waitable(), INFINITE);
        const std::vector<HotplugEvent> events = monitor.ReadEvents();
        if (events.empty()) {
            Check(false, "the monitor's handle was ready with no event to read");
            return {};
        }
        for (const HotplugEvent& event : events) {
            std::printf("  event after %lu ms: %s %s\n", GetTickCount() - start,
                        event.action == HotplugAction::Add      ? "add"
                        : event.action == HotplugAction::Remove ? "remove"
                                                                : "other",
                        event.devicePath.c_str());
            if (event.action == action) {
                return event.devicePath;
            }
            if (event.devicePath == path) {
                Check(false, "the controller's path came with the other action");
                return {};
            }
        }
    }
}

int Hotplug()
{
    std::unique_ptr<WindowsHotplugMonitor> monitor = WindowsHotplugMonitor::Create();
    Check(monitor != nullptr, "the monitor is set up");
    if (!monitor) {
        return 1;
    }
    Check(WaitForSingleObject(monitor->Waitable(), 0) == WAIT_TIMEOUT, "nothing waits at first");
    WindowsHidPlatform platform;
    const std::optional<HidDeviceInfo> before = FindController(platform);
    Check(before.has_value(), "the controller is listed");
    if (!before) {
        return 1;
    }
    std::unique_ptr<HidDevice> device = platform.Open(before->path);
    Check(device != nullptr, "it opens");

    Check(Control("unplug"), "unplug sent");
    const std::string removed = Await(*monitor, HotplugAction::Remove, before->path);
    Check(WaitForSingleObject(monitor->Waitable(), 0) == WAIT_TIMEOUT, "once read, the handle is no longer ready");
    Check(removed == before->path, "the removed path is the listed one: " + removed);
    Check(!FindController(platform), "the controller is no longer listed");
    const bool opens = platform.Open(before->path) != nullptr;
    const DWORD openError = GetLastError();
    Check(!opens, "its path no longer opens");
    std::printf("  opening the removed path: %s\n", portable::SystemErrorText(openError).c_str());
    Check(openError != ERROR_ACCESS_DENIED, "a path that left is not taken for one refused");
    if (device) {
        std::vector<uint8_t> status(report::kStatusLength, 0);
        status[0] = report::kStatusId;
        std::string error;
        const int n = device->GetFeature(status.data(), status.size(), error);
        Check(n == -1 && !error.empty(), "a get from the unplugged controller fails: " + error);
    }
    device.reset();

    Check(Control("plug"), "plug sent");
    const std::string added = Await(*monitor, HotplugAction::Add, before->path);
    const std::optional<HidDeviceInfo> after = FindController(platform);
    Check(after.has_value(), "the controller is listed again");
    if (after) {
        Print(*after);
        Check(added == after->path, "the added path is the listed one: " + added);
        Check(after->location == before->location, "it is at the same location");
        device = platform.Open(after->path);
        std::vector<uint8_t> status(report::kStatusLength, 0);
        status[0] = report::kStatusId;
        std::string error;
        Check(device && device->GetFeature(status.data(), status.size(), error) == 8, "its status reads again");
    }
    monitor.reset();
    Check(true, "the monitor is taken down");
    return failures == 0 ? 0 : 1;
}

// The notices of a removal that another program vetoes, as Windows sends them to the monitor's window for a
// handle it registered.
int QueryRemove()
{
    WindowsHidPlatform platform;
    std::unique_ptr<WindowsHotplugMonitor> monitor = WindowsHotplugMonitor::Create(platform.Devices());
    Check(monitor != nullptr, "the monitor is set up");
    const std::optional<HidDeviceInfo> info = FindController(platform);
    Check(info.has_value(), "the controller is listed");
    if (!monitor || !info) {
        return 1;
    }
    std::unique_ptr<HidDevice> device = platform.Open(info->path);
    Check(device != nullptr, "it opens");
    HANDLE opened = nullptr;
    const int listening = platform.Devices()->Listen(
        [&](const std::shared_ptr<OpenHandle>& h, bool isOpen) { opened = isOpen ? h->Name() : opened; });
    platform.Devices()->Unlisten(listening);
    Check(opened != nullptr, "the platform lists its handle");
    const HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"DoorphoneconfigHotplugMonitor", nullptr);
    Check(window != nullptr, "the monitor's window is there");
    if (!device || !opened || !window) {
        return 1;
    }
    auto notice = [&](WPARAM event) {
        DEV_BROADCAST_HANDLE broadcast{};
        broadcast.dbch_size = sizeof broadcast;
        broadcast.dbch_devicetype = DBT_DEVTYP_HANDLE;
        broadcast.dbch_handle = opened;
        return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&broadcast));
    };
    std::vector<uint8_t> status(report::kStatusLength, 0);
    status[0] = report::kStatusId;
    std::string error;
    Check(device->GetFeature(status.data(), status.size(), error) == 8, "its status reads");

    Check(notice(DBT_DEVICEQUERYREMOVE) == TRUE, "the removal is agreed to");
    const std::string removed = Await(*monitor, HotplugAction::Remove, info->path);
    Check(removed == info->path, "the interface is reported removed: " + removed);
    error.clear();
    Check(device->GetFeature(status.data(), status.size(), error) == -1 && !error.empty(),
          "the handle was let go: " + error);

    notice(DBT_DEVICEQUERYREMOVEFAILED);
    const std::string added = Await(*monitor, HotplugAction::Add, info->path);
    Check(added == info->path, "vetoed, it is reported added again: " + added);
    device = platform.Open(info->path);
    Check(device && device->GetFeature(status.data(), status.size(), error) == 8, "and reads again");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "list") {
        return List(argc, argv);
    }
    if (mode == "wait") {
        return Wait(argc, argv);
    }
    if (mode == "transfers") {
        return Transfers();
    }
    if (mode == "short") {
        return ShortAnswer();
    }
    if (mode == "lengths") {
        return Lengths();
    }
    if (mode == "query-remove") {
        return QueryRemove();
    }
    if (mode == "hotplug") {
        return Hotplug();
    }
    std::fprintf(stderr, "usage: windows_hid_probe list VID... | wait [VID:PID[:COUNT]...] | short | transfers | "
                         "lengths | hotplug\n");
    return 2;
}
