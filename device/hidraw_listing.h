// The system's hidraw nodes, each with its IDs and its USB place, read from udev. A device may leave at any
// moment of the walk (a pull-out, a controller restarting after programming, several at once on a bench):
// whatever of it can no longer be read is skipped. hidapi 0.13's own listing reads past such a device and
// crashes, so the backend lists with this and uses hidapi only to open and to transfer.
#pragma once

#include "device/hid_platform.h"

#include <optional>
#include <string>
#include <vector>

// The nodes of `vendorId`'s devices (0: every vendor), in udev's order, each path once.
std::vector<HidDeviceInfo> ListHidrawNodes(uint16_t vendorId);

// The vendor and product of the device whose node is at `devnode`; nothing once it has left.
std::optional<HidAttributes> HidrawNodeAttributes(const std::string& devnode);
