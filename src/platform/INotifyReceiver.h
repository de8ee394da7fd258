#pragma once
#include <cstdint>

// What the worker posts to: a queued, non-blocking hand-off into the receiver's
// own thread. Parameters are 64 bits wide, as a message's are in a 64-bit
// build, so byte counts of any size travel whole.
class INotifyReceiver {
public:
    virtual ~INotifyReceiver() = default;
    virtual void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) = 0;
};
