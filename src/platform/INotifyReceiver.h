#pragma once
#include <cstdint>

// What the worker posts to: a queued, non-blocking hand-off into the receiver's
// own thread. Parameters are 32 bits wide, as on the platform the protocol
// comes from, so large byte counts travel as their low 32 bits.
class INotifyReceiver {
public:
    virtual ~INotifyReceiver() = default;
    virtual void PostMessage(unsigned message, std::uint32_t wParam, std::int32_t lParam) = 0;
};
