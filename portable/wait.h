// Waiting on several things at once (a hot-plug monitor, a stop request, standard input) the same way on
// Linux and Windows: a descriptor that turns readable there, an event object here.
#pragma once

#include "portable/system.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace portable {

// A flag raised from any thread (and, on Linux, from a signal handler) that wakes whoever waits on its
// handle until it is cleared.
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // False when the system gave no pipe or event; its handle is then kNoWaitHandle.
    bool Valid() const;
    // Async-signal-safe on Linux; safe from a console control handler on Windows.
    void Raise();
    // Lowers it again, so the next wait blocks until the next Raise.
    void Clear();
    WaitHandle Handle() const;

private:
    // Linux: a pipe's two ends; Windows: an event, in the first.
    WaitHandle handles_[2] = {kNoWaitHandle, kNoWaitHandle};
};

// Blocks until one of `handles` is ready or `timeoutMs` passes (a negative time waits for ever). Returns the
// index of a ready handle, or -1 on the time out. Handles equal to kNoWaitHandle are never ready, so an
// all-empty list is a plain sleep.
int WaitForAny(std::span<const WaitHandle> handles, int timeoutMs);

// Standard input as something to wait on: on Linux the descriptor itself; on Windows, where a pipe or a
// console cannot be waited on like a socket, a thread that reads ahead and raises a handle.
class InputPump {
public:
    explicit InputPump(int fd);
    ~InputPump();
    InputPump(const InputPump&) = delete;
    InputPump& operator=(const InputPump&) = delete;

    WaitHandle Handle() const;
    // What arrived, never blocking after its handle was ready: bytes, or an empty string with `ended` set once
    // the input ends or fails.
    std::string Read(bool& ended);

private:
    struct State;
    std::shared_ptr<State> state_;  // shared with the reading thread on Windows
};

}  // namespace portable
