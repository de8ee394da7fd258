#pragma once
#include "platform/INotifyReceiver.h"
#include "worker/CProgressModel.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

// Queues the worker's notifications for the terminal program's main thread,
// the way a window's message queue would, each with the texts of the
// channel as they stood when it was posted.
class CTerminalReceiver : public INotifyReceiver {
public:
    explicit CTerminalReceiver(const CNotifyChannel& channel) : m_channel(channel) {}

    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override;
    // The next notice, or nothing when none came within `limit`.
    std::optional<CProgressModel::Notice> Wait(std::chrono::milliseconds limit);

private:
    const CNotifyChannel& m_channel;
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<CProgressModel::Notice> m_queue;
};
