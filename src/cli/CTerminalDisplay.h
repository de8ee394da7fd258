#pragma once
#include "cli/ProgressLine.h"
#include "worker/CProgressModel.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// What the terminal program prints. On a terminal: one line redrawn in place
// with the bar, bytes done of total, rate and time left, and the status.
// In a pipe or a log: each status on a line of its own. Quiet: nothing but
// what Finish is given.
class CTerminalDisplay {
public:
    enum class Mode { Terminal, Lines, Quiet };
    explicit CTerminalDisplay(Mode mode) : m_mode(mode) {}

    // Shows what one notification changed in `model`.
    void Show(const CProgressModel& model, CProgressModel::Change change);
    // Ends the redrawn line and prints the final status and the Download folder.
    void Finish(const std::string& finalStatus, const std::string& folder);
    // What the redrawn line holds for `model` now.
    ProgressLine LineFor(const CProgressModel& model) const;

private:
    // A line of its own (the names chosen), above the redrawn one.
    void Line(const CProgressModel& model, const std::string& text);
    void Redraw(const CProgressModel& model);

    Mode m_mode;
    std::string m_printed;   // the last status printed as a line
    std::chrono::steady_clock::time_point m_runStart = std::chrono::steady_clock::now();
    // Bytes the bar's first move found done: a resumed download's part, which
    // took no time of this run. Unknown until that move.
    std::optional<std::uint64_t> m_runBase;
};
