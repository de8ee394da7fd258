#include "cli/CTerminalDisplay.h"

#include "platform/Terminal.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>

namespace {

int TerminalWidth()
{
    if (const int columns = TerminalColumns(); columns > 0)
        return columns;
    // Only the main thread draws; the worker never reads the environment.
    const char* columns = std::getenv("COLUMNS");   // NOLINT(concurrency-mt-unsafe)
    if (columns && std::atoi(columns) > 0)
        return std::atoi(columns);
    return 80;
}

}   // namespace

void CTerminalDisplay::Show(const CProgressModel& model, CProgressModel::Change change)
{
    using Change = CProgressModel::Change;
    switch (change) {
    case Change::BarStarted:
        m_runStart = std::chrono::steady_clock::now();
        m_runBase.reset();
        [[fallthrough]];
    case Change::BarMoved:
        if (change == Change::BarMoved && !m_runBase && model.CurrentBar()) {
            m_runBase = model.CurrentBar()->done;
            m_runStart = std::chrono::steady_clock::now();
        }
        [[fallthrough]];
    case Change::BarHidden:
        if (m_mode == Mode::Terminal)
            Redraw(model);
        break;
    case Change::Status:
        if (m_mode == Mode::Terminal)
            Redraw(model);
        else if (m_mode == Mode::Lines)
            LogLine(model.Status());
        break;
    case Change::AppName:
        Line(model, "Application: " + model.AppName());
        break;
    case Change::UpdateName:
        Line(model, "Update: " + model.UpdateName());
        break;
    case Change::End:   // Finish says how it ended
    case Change::None:
        break;
    }
}

void CTerminalDisplay::LogLine(const std::string& text)
{
    // Line by line, so a log or a pipe sees each status as it happens.
    if (text == m_printed)
        return;
    m_printed = text;
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
}

void CTerminalDisplay::Line(const CProgressModel& model, const std::string& text)
{
    if (m_mode == Mode::Lines)
        return LogLine(text);
    if (m_mode != Mode::Terminal)
        return;
    std::fprintf(m_out, "\r\033[K%s\n", text.c_str());
    Redraw(model);
}

void CTerminalDisplay::Finish(const std::string& finalStatus, const std::string& folder)
{
    // Every mode ends with the final status on a line of its own, printed once.
    if (m_mode == Mode::Lines) {
        LogLine(finalStatus);
    } else {
        if (m_mode == Mode::Terminal)
            std::fprintf(m_out, "\r\033[K");
        std::fprintf(m_out, "%s\n", finalStatus.c_str());
    }
    if (!folder.empty())
        std::fprintf(m_out, "Download folder: %s\n", folder.c_str());
    std::fflush(m_out);
}

ProgressLine CTerminalDisplay::LineFor(const CProgressModel& model) const
{
    using BarCount = CProgressModel::BarCount;
    ProgressLine line;
    const CProgressModel::Bar* bar = model.CurrentBar();
    // A bar that reached its end stays, full, until the next one starts.
    line.showBar = bar && (bar->shown || bar->finished);
    if (line.showBar) {
        const bool running = bar->shown;
        line.stage = bar->counts == BarCount::Downloaded ? (running ? "Downloading" : "Downloaded")
                     : bar->counts == BarCount::Unpacked ? (running ? "Unpacking" : "Unpacked")
                                                         : "";
        line.fraction = running ? 0 : 1;
    }
    if (line.showBar && bar->total > 0) {
        line.bytes = true;
        line.done = bar->shown ? bar->done : bar->total;
        line.total = bar->total;
        line.fraction = static_cast<double>(line.done) / static_cast<double>(bar->total);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_runStart).count();
        const std::uint64_t base = std::min(m_runBase.value_or(0), line.done);
        if (seconds > 0.2 && bar->shown)
            line.bytesPerSecond = static_cast<double>(line.done - base) / seconds;
    }
    line.status = model.Status();
    return line;
}

void CTerminalDisplay::Redraw(const CProgressModel& model)
{
    std::fprintf(m_out, "\r\033[K%s", BarLine(LineFor(model), TerminalWidth()).c_str());
    std::fflush(m_out);
}
