#pragma once
#include <cstdint>

// windows.h makes PostMessage a macro; where it came first it would rename
// this member in some files and not in others.
#if defined(_WIN32) && defined(PostMessage)
#undef PostMessage
#endif

// What the worker posts to: a queued, non-blocking hand-off into the receiver's
// own thread. Parameters are 64 bits wide, as a message's are in a 64-bit
// build, so byte counts of any size travel whole.
class INotifyReceiver {
public:
    virtual ~INotifyReceiver() = default;
    virtual void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) = 0;
};
