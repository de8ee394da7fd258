#include "cli/CTerminalDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

int TerminalWidth()
{
    winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    // Only the main thread draws; the worker never reads the environment.
    if (const char* columns = std::getenv("COLUMNS"); columns && std::atoi(columns) > 0) // NOLINT(concurrency-mt-unsafe)
        return std::atoi(columns);
    return 80;
}

// The download's status reads "<name> - <n>% Complete".
int PercentIn(const std::string& status)
{
    const std::string tail = "% Complete";
    if (status.size() < tail.size() || status.compare(status.size() - tail.size(), tail.size(), tail) != 0)
        return -1;
    std::size_t start = status.size() - tail.size();
    while (start > 0 && status[start - 1] >= '0' && status[start - 1] <= '9')
        --start;
    return std::atoi(status.c_str() + start);
}

} // namespace

void CTerminalDisplay::Status(const std::string& text)
{
    if (text == m_status)
        return;
    m_status = text;
    if (const int percent = PercentIn(text); percent >= 0 && m_bar) {
        m_bytes = true;
        m_total = WidenTotal(static_cast<std::uint32_t>(m_range), m_done, percent);
    }
    if (m_mode == Mode::Terminal) {
        Redraw();
    } else if (m_mode == Mode::Lines) {
        // Line by line, so a log or a pipe sees each status as it happens.
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
}

void CTerminalDisplay::Progress(std::uint32_t position, std::int32_t range)
{
    const auto p = static_cast<std::int32_t>(position);
    if (p == 0) {
        m_range = range;
        m_position = 0;
        m_bar = true;
        m_bytes = false;
        m_done = 0;
        m_total = static_cast<std::uint32_t>(range);
        m_runStart = std::chrono::steady_clock::now();
    } else if (p == range) {
        m_bar = false;
    } else if (range > 0 || m_bytes) {
        m_position = p;
        m_done = UnwrapPosition(m_done, position);
    }
    if (m_mode == Mode::Terminal)
        Redraw();
}

void CTerminalDisplay::Line(const std::string& text)
{
    if (m_mode == Mode::Quiet)
        return;
    if (m_mode == Mode::Terminal)
        std::printf("\r\033[K");
    std::printf("%s\n", text.c_str());
    if (m_mode == Mode::Terminal)
        Redraw();
    std::fflush(stdout);
}

void CTerminalDisplay::Finish(const std::string& finalStatus, const std::string& folder)
{
    if (m_mode == Mode::Terminal)
        std::printf("\r\033[K%s\n", finalStatus.c_str());
    else if (m_mode == Mode::Quiet)
        std::printf("%s\n", finalStatus.c_str());
    if (!folder.empty())
        std::printf("Download folder: %s\n", folder.c_str());
    std::fflush(stdout);
}

void CTerminalDisplay::Redraw()
{
    ProgressLine line;
    line.showBar = m_bar;
    line.bytes = m_bytes;
    line.done = m_done;
    line.total = m_total;
    if (m_bytes)
        line.fraction = m_total ? static_cast<double>(m_done) / static_cast<double>(m_total) : 0;
    else if (m_range > 0)
        line.fraction = static_cast<double>(m_position) / m_range;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_runStart).count();
    if (m_bytes && seconds > 0.2)
        line.bytesPerSecond = static_cast<double>(m_done) / seconds;
    line.status = m_status;
    std::printf("\r\033[K%s", BarLine(line, TerminalWidth()).c_str());
    std::fflush(stdout);
}
