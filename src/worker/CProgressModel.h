#pragma once
#include "platform/CNotifyChannel.h"
#include "worker/Messages.h"

#include <cstdint>
#include <optional>
#include <string>

// The one reading of the worker's notifications, shared by every front end:
// the current stage, each stage's bar (shown or hidden, done of total), the
// status text, the names chosen and, once the run is over, its result. The
// texts are copied from the channel's slots as their notices arrive.
class CProgressModel {
public:
    // What one notification changed.
    enum class Change { None, BarStarted, BarMoved, BarHidden, Status, AppName, UpdateName, End };

    struct Bar {
        bool shown = false;
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        // done of total on a scale of 0..steps, rounded down; 0 for an empty total.
        int Scaled(int steps) const;
    };

    explicit CProgressModel(const CNotifyChannel& channel) : m_channel(channel) {}

    Change Take(unsigned message, std::uint64_t wParam, std::int64_t lParam);

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

private:
    Change TakeProgress(std::uint64_t wParam, std::int64_t lParam);

    const CNotifyChannel& m_channel;
    int m_stage = 0;
    Bar m_bars[2];
    std::string m_status;
    std::string m_appName;
    std::string m_updateName;
    std::optional<RunResult> m_result;
};
