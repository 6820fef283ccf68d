// Requests to a Windows driver that never wait for ever: each runs overlapped, and is cancelled (CancelIoEx)
// once its time is up or a stop is requested. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Not a system error code (bit 29 marks an application's own): the request was cancelled on a stop request.
constexpr DWORD kStoppedCode = 0x20000001;

// The requests of one open handle. A request that the driver keeps after its cancel (one that does not honour
// cancels, for a device that never answers) keeps its memory: the driver may still write into it.
class OverlappedRequests {
public:
    OverlappedRequests() = default;
    // Call after the handle is closed, which ends what the driver still holds, if it ever does.
    ~OverlappedRequests();
    OverlappedRequests(const OverlappedRequests&) = delete;
    OverlappedRequests& operator=(const OverlappedRequests&) = delete;

    // Begins the request (DeviceIoControl, ReadFile, ...) on `data` and `overlapped`; false, with the reason in
    // GetLastError, when it could not be begun. `data` holds a copy of the buffer and is the driver's while the
    // request runs.
    using Begin = std::function<BOOL(uint8_t* data, DWORD size, OVERLAPPED* overlapped)>;

    // Runs one request on `file` (opened with FILE_FLAG_OVERLAPPED) over a copy of `buffer`, waiting until
    // it completes, `timeoutMs` passes, or `stop` (a handle, or null for none) is signalled; then cancels it.
    // A request that completed, even just as it was cancelled, counts: `buffer` gets its bytes and
    // `transferred` their number. Returns ERROR_SUCCESS, the system's error code, ERROR_TIMEOUT, or
    // kStoppedCode. Safe from several threads at once.
    DWORD Run(HANDLE file, std::vector<uint8_t>& buffer, const Begin& begin, HANDLE stop, DWORD timeoutMs,
              DWORD& transferred);

private:
    struct Request {
        OVERLAPPED overlapped{};
        HANDLE completed = nullptr;  // a manual-reset event
        std::vector<uint8_t> buffer;
        Request() = default;
        ~Request();
        Request(const Request&) = delete;
        Request& operator=(const Request&) = delete;
    };
    std::mutex mutex_;
    std::vector<std::unique_ptr<Request>> abandoned_;  // cancelled, and not back from the driver in time
};
