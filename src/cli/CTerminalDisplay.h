#pragma once
#include "cli/ProgressLine.h"
#include "worker/CProgressModel.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// What the terminal program prints. On a terminal: one line redrawn in place
// with the stage, the bar, bytes done of total, rate and time left, and the
// status; a bar that reached its end is drawn full until the next one
// starts. In a pipe or a log: each status on a line of its own, in the order
// posted. Quiet: nothing but what Finish is given.
class CTerminalDisplay {
public:
    enum class Mode { Terminal, Lines, Quiet };
    explicit CTerminalDisplay(Mode mode, std::FILE* out = stdout) : m_mode(mode), m_out(out) {}

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

    // A line of the log; a status repeated at once is printed once.
    void LogLine(const std::string& text);

    Mode m_mode;
    std::FILE* m_out;
    std::string m_printed;   // the last line printed in Lines mode
    std::chrono::steady_clock::time_point m_runStart = std::chrono::steady_clock::now();
    // Bytes the bar's first move found done: a resumed download's part, which
    // took no time of this run. Unknown until that move.
    std::optional<std::uint64_t> m_runBase;
};
