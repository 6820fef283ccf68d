#include "device/firmware_stream.h"

#include <array>

FirmwareStream::FirmwareStream(DeviceLink& link, ErrorHook onChunkError, std::FILE* trace, ImageSource image)
    : link_(link), onChunkError_(std::move(onChunkError)), trace_(trace), image_(std::move(image))
{
}

bool FirmwareStream::SendBootReport()
{
    std::array<uint8_t, report::kBootLength> boot{};
    EncodeBootReport(boot);
    return link_.SetFeature(boot.data(), boot.size());
}

bool FirmwareStream::SendFirmwareChunk(const uint8_t* bytes, std::size_t count)
{
    std::array<uint8_t, report::kFirmwareChunkLength> chunk{};
    EncodeFirmwareChunk(chunk, bytes, count);
    if (StopRequested()) {
        return false;  // the window is closing: no further transfer, and nobody to tell
    }
    std::string error;
    if (link_.SetFeature(chunk.data(), chunk.size(), &error)) {
        return true;
    }
    if (onChunkError_ && !StopRequested()) {
        onChunkError_(error);
    }
    return false;
}

bool FirmwareStream::SendWholeLine(const uint8_t* line, std::size_t length)
{
    std::size_t offset = 0;
    std::size_t remaining = length;
    for (;;) {
        const std::size_t n = remaining < ChunkDataSize ? remaining : ChunkDataSize;
        const bool r = SendFirmwareChunk(line + offset, n);
        offset += n;
        remaining -= n;
        if (remaining == 0 || !r) {
            return r;
        }
    }
}

bool FirmwareStream::StreamFirmwareImage(const ProgressHook& progress)
{
    const std::optional<std::span<const uint8_t>> image = image_ ? image_() : std::nullopt;
    if (!image) {
        return false;
    }
    const uint8_t* bytes = image->data();
    const uint32_t size = static_cast<uint32_t>(image->size());
    std::array<uint8_t, LineBufferSize> line{};
    std::size_t len = 0;
    uint32_t consumed = 0;
    bool ok = true;
    while (consumed < size && ok) {
        if (progress) {
            progress(consumed, size);
        }
        if (len >= LineBufferSize) {
            Trace("unexpected error: line is longer than maximum\n");
            ok = false;
            break;
        }
        const uint8_t c = bytes[consumed];
        if (c == '\r') {
            line[len++] = '.';
            consumed += 2;  // the byte after the CR, the LF of the pair, is skipped unseen
            ok = SendWholeLine(line.data(), len);
            Trace(ok ? "#" : "programming failed: SendWholeLine can't send\n");
            len = 0;
        } else {
            line[len++] = c;
            ++consumed;
        }
    }
    Trace("\n");
    if (trace_) {
        std::fflush(trace_);
    }
    return ok;
}

void FirmwareStream::Trace(const char* text)
{
    if (trace_) {
        std::fputs(text, trace_);
    }
}
