#pragma once
#include <cstdint>
#include <string>

// What the terminal program's one redrawn line shows.
struct ProgressLine {
    bool showBar = false;
    double fraction = 0;   // of the bar, 0 to 1
    bool bytes = false;    // a download: the byte figures below are shown
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    double bytesPerSecond = 0;   // 0 while not known
    std::string status;
    std::string stage;   // what the bar counts, in words: "Downloading", "Unpacked"...
};

// "512 B", "1.5 KiB", "12.0 MiB", "4.20 GiB": binary units, as curl and wget print them.
std::string FormatBytes(std::uint64_t bytes);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(double seconds);
// The line, never wider than `width` columns less one (a full line would wrap
// on some terminals): the stage, the bar, the byte figures, the rate, the
// time left and the status text, dropped from the right as the width shrinks.
std::string BarLine(const ProgressLine& line, int width);
