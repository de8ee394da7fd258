#pragma once
#include "platform/INotifyReceiver.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

// Queues the worker's notifications for the terminal program's main thread,
// the way a window's message queue would.
class CTerminalReceiver : public INotifyReceiver {
public:
    struct Message {
        unsigned message;
        std::uint64_t wParam;
        std::int64_t lParam;
    };

    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override;
    // The next message, or nothing when none came within `limit`.
    std::optional<Message> Wait(std::chrono::milliseconds limit);

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<Message> m_queue;
};
