#include "cli/ProgressLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string FormatBytes(std::uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10 && unit >= 2 ? "%.2f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string FormatDuration(double seconds)
{
    const auto s = static_cast<long long>(std::llround(std::max(0.0, seconds)));
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

namespace {

// Cuts UTF-8 text to at most `columns` characters, never inside one.
std::string Fit(const std::string& text, int columns)
{
    std::size_t at = 0;
    for (int n = 0; at < text.size(); ++n) {
        if (n == columns)
            return text.substr(0, at);
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            ++at;
    }
    return text;
}

int Columns(const std::string& text)
{
    int n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80;
    return n;
}

}   // namespace

std::string BarLine(const ProgressLine& line, int width)
{
    const int room = width - 1;
    std::string out;
    bool full = false;   // once a part is left out, so are the ones after it
    auto add = [&](const std::string& part) {
        std::string piece = out.empty() ? std::string() : std::string("  ");
        piece += part;
        full = full || Columns(out) + Columns(piece) > room;
        if (!full)
            out += piece;
    };
    if (line.showBar) {
        if (!line.stage.empty())
            add(line.stage);
        const int cells = std::min(30, std::max(0, room / 4 - 2));
        if (cells >= 5) {
            const double f = std::clamp(line.fraction, 0.0, 1.0);
            const int filled = static_cast<int>(f * cells);
            std::string bar(static_cast<std::size_t>(cells) + 2, '.');
            bar.front() = '[';
            bar.back() = ']';
            bar.replace(1, static_cast<std::size_t>(filled), static_cast<std::size_t>(filled), '#');
            add(bar);
        }
        if (line.bytes) {
            add(FormatBytes(line.done) + " of " + FormatBytes(line.total));
            if (line.bytesPerSecond > 0) {
                add(FormatBytes(static_cast<std::uint64_t>(line.bytesPerSecond)) + "/s");
                if (line.total > line.done)
                    add(FormatDuration(static_cast<double>(line.total - line.done) / line.bytesPerSecond) + " left");
            }
        }
    }
    const int left = room - Columns(out) - (out.empty() ? 0 : 2);
    if (left > 0) {
        if (!out.empty())
            out += "  ";
        out += Fit(line.status, left);
    }
    return out;
}
