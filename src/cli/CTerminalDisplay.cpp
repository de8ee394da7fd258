#include "cli/CTerminalDisplay.h"

#include <algorithm>

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

int TerminalWidth()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
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
        if (m_mode == Mode::Terminal) {
            Redraw(model);
        } else if (m_mode == Mode::Lines && model.Status() != m_printed) {
            // Line by line, so a log or a pipe sees each status as it happens.
            m_printed = model.Status();
            std::printf("%s\n", m_printed.c_str());
            std::fflush(stdout);
        }
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

void CTerminalDisplay::Line(const CProgressModel& model, const std::string& text)
{
    if (m_mode == Mode::Quiet)
        return;
    if (m_mode == Mode::Terminal)
        std::printf("\r\033[K");
    std::printf("%s\n", text.c_str());
    if (m_mode == Mode::Terminal)
        Redraw(model);
    std::fflush(stdout);
}

void CTerminalDisplay::Finish(const std::string& finalStatus, const std::string& folder)
{
    if (m_mode == Mode::Terminal)
        std::printf("\r\033[K");
    // Every mode ends with the final status, printed once.
    if (m_mode != Mode::Lines || finalStatus != m_printed)
        std::printf("%s\n", finalStatus.c_str());
    if (!folder.empty())
        std::printf("Download folder: %s\n", folder.c_str());
    std::fflush(stdout);
}

ProgressLine CTerminalDisplay::LineFor(const CProgressModel& model) const
{
    ProgressLine line;
    const CProgressModel::Bar* bar = model.CurrentBar();
    line.showBar = bar && bar->shown;
    if (line.showBar && bar->total > 0) {
        line.bytes = true;
        line.done = bar->done;
        line.total = bar->total;
        line.fraction = static_cast<double>(bar->done) / static_cast<double>(bar->total);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_runStart).count();
        const std::uint64_t base = std::min(m_runBase.value_or(0), bar->done);
        if (seconds > 0.2)
            line.bytesPerSecond = static_cast<double>(bar->done - base) / seconds;
    }
    line.status = model.Status();
    return line;
}

void CTerminalDisplay::Redraw(const CProgressModel& model)
{
    std::printf("\r\033[K%s", BarLine(LineFor(model), TerminalWidth()).c_str());
    std::fflush(stdout);
}
