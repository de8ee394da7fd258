#pragma once
#include "platform/CTextSlot.h"
#include "platform/INotifyReceiver.h"

#include <atomic>
#include <mutex>

// The link between the worker and whoever watches it. Both hold it by
// shared_ptr, so the four text slots outlive either side; the receiver
// detaches when it goes away and from then on every post is dropped.
class CNotifyChannel {
public:
    explicit CNotifyChannel(INotifyReceiver* receiver = nullptr) : m_receiver(receiver) {}

    void Attach(INotifyReceiver* receiver);
    // After Detach returns no post reaches the old receiver, not even one in flight.
    void Detach();
    void Post(unsigned message, std::uint64_t wParam, std::int64_t lParam);

    CTextSlot statusText;
    CTextSlot appName;
    CTextSlot updateName;
    // Set before the final notification when the application archive was
    // unpacked whole in that run: only then is there an installer to start.
    std::atomic<bool> applicationComplete{false};
    // Set with it when the application was unpacked whole but its update was
    // refused (not the publisher's): the release is not installed.
    std::atomic<bool> updateRefused{false};
    // Why a run did not end complete, in words; set before the final notification.
    CTextSlot failureReason;
    // What a progress bar counts from its next start on: set before the
    // notice that starts it, so the front ends can say which stage runs.
    enum class BarCount { Unknown, Downloaded, Unpacked };
    std::atomic<BarCount> barCounts{BarCount::Unknown};

private:
    std::mutex m_lock;
    INotifyReceiver* m_receiver;
};
