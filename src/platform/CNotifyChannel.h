#pragma once
#include "platform/CTextSlot.h"
#include "platform/INotifyReceiver.h"

#include <mutex>

// The link between the worker and whoever watches it. Both hold it by
// shared_ptr, so the three text slots outlive either side; the receiver
// detaches when it goes away and from then on every post is dropped.
class CNotifyChannel {
public:
    explicit CNotifyChannel(INotifyReceiver* receiver = nullptr) : m_receiver(receiver) {}

    void Attach(INotifyReceiver* receiver);
    // After Detach returns no post reaches the old receiver, not even one in flight.
    void Detach();
    void Post(unsigned message, std::uint32_t wParam, std::int32_t lParam);

    CTextSlot statusText;
    CTextSlot appName;
    CTextSlot updateName;
    // Why a run ended with "Internet Failed", in words; set before kind 3.
    CTextSlot failureReason;

private:
    std::mutex m_lock;
    INotifyReceiver* m_receiver;
};
