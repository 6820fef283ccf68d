#include "device/windows_overlapped.h"

namespace {

// A cancelled request is given this long to come back before it is left to the driver.
constexpr DWORD kCancelGraceMs = 1000;

}  // namespace

OverlappedRequests::Request::~Request()
{
    if (completed != nullptr) {
        CloseHandle(completed);
    }
}

OverlappedRequests::~OverlappedRequests()
{
    for (std::unique_ptr<Request>& request : abandoned_) {
        if (!HasOverlappedIoCompleted(&request->overlapped)) {
            (void)request.release();  // the driver's still: its memory stays with it for the rest of the process
        }
    }
}

DWORD OverlappedRequests::Run(HANDLE file, std::vector<uint8_t>& buffer, const Begin& begin, HANDLE stop,
                              DWORD timeoutMs, DWORD& transferred)
{
    transferred = 0;
    auto request = std::make_unique<Request>();
    request->completed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (request->completed == nullptr) {
        return GetLastError();
    }
    request->overlapped.hEvent = request->completed;
    request->buffer = buffer;
    if (!begin(request->buffer.data(), static_cast<DWORD>(request->buffer.size()), &request->overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return GetLastError();
    }
    const HANDLE waits[] = {request->completed, stop};
    const DWORD woke = WaitForMultipleObjects(stop != nullptr ? 2 : 1, waits, FALSE, timeoutMs);
    DWORD outcome = ERROR_SUCCESS;
    if (woke != WAIT_OBJECT_0) {
        outcome = woke == WAIT_OBJECT_0 + 1 ? kStoppedCode : woke == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
        CancelIoEx(file, &request->overlapped);
        // A driver that honours the cancel completes the request at once; one that does not keeps it.
        if (WaitForSingleObject(request->completed, kCancelGraceMs) != WAIT_OBJECT_0) {
            std::lock_guard lock(mutex_);
            abandoned_.push_back(std::move(request));
            return outcome;
        }
    }
    DWORD n = 0;
    if (!GetOverlappedResult(file, &request->overlapped, &n, FALSE)) {
        const DWORD code = GetLastError();
        return outcome != ERROR_SUCCESS && code == ERROR_OPERATION_ABORTED ? outcome : code;
    }
    transferred = n;
    buffer = std::move(request->buffer);
    return ERROR_SUCCESS;
}
