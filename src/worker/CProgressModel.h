#pragma once
#include "platform/CNotifyChannel.h"
#include "worker/Messages.h"

#include <cstdint>
#include <optional>
#include <string>

// The one reading of the worker's notifications, shared by every front end:
// the current stage, each stage's bar (shown or hidden, done of total), the
// status text, the names chosen and, once the run is over, its result and
// why it failed.
class CProgressModel {
public:
    // What one notification changed.
    enum class Change { None, BarStarted, BarMoved, BarHidden, Status, AppName, UpdateName, End };
    using BarCount = CNotifyChannel::BarCount;

    struct Bar {
        bool shown = false;
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        BarCount counts = BarCount::Unknown;
        bool finished = false;   // hidden at its range (not by the failure notice)
        // done of total on a scale of 0..steps, rounded down; 0 for an empty total.
        int Scaled(int steps) const;
    };

    // A notification with what the channel held for it when it was posted.
    // The worker writes a slot and posts at once, and may write it again
    // before a front end's thread gets to the notice: only a copy taken on
    // the posting thread keeps each text with its own notice.
    struct Notice {
        unsigned message = 0;
        std::uint64_t wParam = 0;
        std::int64_t lParam = 0;
        std::string text;                      // kinds 0 and 3: the status; 1 and 2: the name chosen
        std::string reason;                    // kind 3: why the run did not end complete
        BarCount counts = BarCount::Unknown;   // a bar's start: what it counts
    };
    // Called by a receiver as the worker posts, on the worker's thread.
    static Notice Capture(const CNotifyChannel& channel, unsigned message, std::uint64_t wParam, std::int64_t lParam);

    explicit CProgressModel(const CNotifyChannel& channel) : m_channel(channel) {}

    Change Take(const Notice& notice);
    // The notice with the channel as it stands now: for a reader on the
    // posting thread itself.
    Change Take(unsigned message, std::uint64_t wParam, std::int64_t lParam)
    {
        return Take(Capture(m_channel, message, wParam, lParam));
    }

    // 0 before an archive is chosen, 1 for the application, 2 for the update.
    int Stage() const { return m_stage; }
    // The bar of stage 1 or 2; no other stage has one.
    const Bar* BarOf(int stage) const;
    const Bar* CurrentBar() const { return BarOf(m_stage); }
    const std::string& Status() const { return m_status; }
    const std::string& AppName() const { return m_appName; }
    const std::string& UpdateName() const { return m_updateName; }
    // Set by the notice that ends the run.
    std::optional<RunResult> Result() const { return m_result; }
    // Why the run did not end complete, in words; empty before its end.
    const std::string& FailureReason() const { return m_reason; }

private:
    Change TakeProgress(const Notice& notice);

    const CNotifyChannel& m_channel;
    int m_stage = 0;
    Bar m_bars[2];
    std::string m_status;
    std::string m_appName;
    std::string m_updateName;
    std::string m_reason;
    std::optional<RunResult> m_result;
};
