// The stream that sends the carried firmware to the controller: the boot report once, then every line of
// the image with its CR replaced by "." in chunks of at most 61 bytes.
// No window here: progress goes to a hook, a failed chunk to an error callback, the trace to a stream.
#pragma once

#include "device/carried_firmware.h"
#include "device/device_link.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

class FirmwareStream {
public:
    static constexpr std::size_t LineBufferSize = 76;  // the longest line, 75 characters, and its "."
    static constexpr std::size_t ChunkDataSize = report::kChunkDataSize;

    // Called before each step of the walk; must be cheap and must not block.
    using ProgressHook = std::function<void(uint32_t consumed, uint32_t total)>;
    // Shows the system's text for a failed chunk write and returns once the user has dismissed it.
    using ErrorHook = std::function<void(const std::string& systemText)>;
    // Where the image comes from; nothing when it cannot be found or loaded.
    using ImageSource = std::function<std::optional<std::span<const uint8_t>>()>;

    FirmwareStream(
        DeviceLink& link, ErrorHook onChunkError, std::FILE* trace = stdout,
        ImageSource image = [] { return std::optional(CarriedFirmwareImage()); });

    // Set before the stream starts.
    void SetErrorHook(ErrorHook onChunkError) { onChunkError_ = std::move(onChunkError); }

    bool SendBootReport();
    bool SendFirmwareChunk(const uint8_t* bytes, std::size_t count);
    bool SendWholeLine(const uint8_t* line, std::size_t length);
    bool StreamFirmwareImage(const ProgressHook& progress);

    // From any thread: no transfer starts after this; the one in flight finishes.
    void RequestStop() { stop_.store(true); }
    bool StopRequested() const { return stop_.load(); }

private:
    DeviceLink& link_;
    ErrorHook onChunkError_;
    std::FILE* trace_;  // none: no trace
    void Trace(const char* text);
    ImageSource image_;
    std::atomic<bool> stop_{false};
};
