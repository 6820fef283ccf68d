#include "device/carried_firmware.h"

#include "resources/strings.h"

extern "C" const uint8_t dpc_firmware_image_begin[];
extern "C" const uint8_t dpc_firmware_image_end[];

std::span<const uint8_t> CarriedFirmwareImage()
{
    return {dpc_firmware_image_begin, static_cast<std::size_t>(dpc_firmware_image_end - dpc_firmware_image_begin)};
}

const char* FirmwareImageVersion()
{
    return kFirmwareImageVersion;
}

FirmwareVersion CarriedFirmwareVersion()
{
    return {DPC_FIRMWARE_MAJOR, DPC_FIRMWARE_MINOR, DPC_FIRMWARE_BUILD};
}
