// The bounded, stoppable requests the Windows HID backend makes, on a named pipe whose reads wait until the
// other end writes (Wine's HID class driver finishes a feature request before DeviceIoControl returns, so a
// controller that does not answer cannot be shown there).
#include "device/windows_overlapped.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

struct Pipe {
    HANDLE server = INVALID_HANDLE_VALUE;  // read overlapped, as the backend reads the controller
    HANDLE client = INVALID_HANDLE_VALUE;

    Pipe()
    {
        const std::wstring name = L"\\\\.\\pipe\\dpc-overlapped-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(GetTickCount64());
        server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_WAIT,
                                  1, 4096, 4096, 0, nullptr);
        client = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~Pipe()
    {
        CloseHandle(client);
        CloseHandle(server);
    }
    void Write(const std::string& bytes) const
    {
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(client, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
    }
    OverlappedRequests::Begin Read() const
    {
        return [this](uint8_t* data, DWORD size, OVERLAPPED* overlapped) {
            return ReadFile(server, data, size, nullptr, overlapped);
        };
    }
};

struct Event {
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() { CloseHandle(h); }
};

std::string Text(const std::vector<uint8_t>& buffer, DWORD n)
{
    return std::string(buffer.begin(), buffer.begin() + n);
}

// What answers in time comes back; what does not is given up after its time or on a stop, and cancelled, so
// that the next request gets the bytes that come later rather than a request given up.
TEST(OverlappedRequests, AnswerInTimeBoundAndStop)
{
    Pipe pipe;
    ASSERT_NE(pipe.server, INVALID_HANDLE_VALUE);
    ASSERT_NE(pipe.client, INVALID_HANDLE_VALUE);
    OverlappedRequests requests;
    Event stop;
    std::vector<uint8_t> buffer(8, 0);
    DWORD n = 0;

    pipe.Write("abc");
    EXPECT_EQ(requests.Run(pipe.server, buffer, pipe.Read(), stop.h, 5000, n), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Text(buffer, n), "abc");

    buffer.assign(8, 0);
    EXPECT_EQ(requests.Run(pipe.server, buffer, pipe.Read(), stop.h, 300, n), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(n, 0u);

    std::thread stopper([&] {
        Sleep(200);
        SetEvent(stop.h);
    });
    EXPECT_EQ(requests.Run(pipe.server, buffer, pipe.Read(), stop.h, INFINITE, n), kStoppedCode);
    stopper.join();
    ResetEvent(stop.h);

    // Had either request been left running, it would take these bytes.
    pipe.Write("later");
    EXPECT_EQ(requests.Run(pipe.server, buffer, pipe.Read(), stop.h, 5000, n), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Text(buffer, n), "later");

    // Without a stop handle, only the bound ends it.
    EXPECT_EQ(requests.Run(pipe.server, buffer, pipe.Read(), nullptr, 100, n), static_cast<DWORD>(ERROR_TIMEOUT));
}

}  // namespace
