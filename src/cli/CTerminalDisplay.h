#pragma once
#include "cli/ProgressLine.h"

#include <chrono>
#include <cstdint>
#include <string>

// What the terminal program prints. On a terminal: one line redrawn in place
// with the bar, bytes done of total, rate and time left, and the status.
// In a pipe or a log: each status on a line of its own. Quiet: nothing but
// what Finish is given.
class CTerminalDisplay {
public:
    enum class Mode { Terminal, Lines, Quiet };
    explicit CTerminalDisplay(Mode mode) : m_mode(mode) {}

    void Status(const std::string& text);
    void Progress(std::uint32_t position, std::int32_t range);
    // A line of its own (the names chosen), above the redrawn one.
    void Line(const std::string& text);
    // Ends the redrawn line and prints the final lines.
    void Finish(const std::string& finalStatus, const std::string& folder);

private:
    void Redraw();

    Mode m_mode;
    std::string m_status;
    bool m_bar = false;
    std::int32_t m_range = 0;
    std::int32_t m_position = 0;
    bool m_bytes = false;              // the current run counts bytes (a download)
    std::uint64_t m_done = 0;
    std::uint64_t m_total = 0;
    std::chrono::steady_clock::time_point m_runStart;
};
