#pragma once
// What a screen reader is told about the main window, written once for both
// windows: a name and a description for the controls whose own text says too
// little (a file name, a bar, a path), and a bar's value as a percentage.
#include <span>
#include <string>

struct AccessibleControl {
    int id;
    const char* name;
    const char* description;
};

// The main window's named controls, in tab order.
std::span<const AccessibleControl> MainDialogAccessibleControls();
// One of them by control id; null for a control that is read by its own text.
const AccessibleControl* MainDialogAccessible(int controlId);

// The message line's description: the reason of a failed run, else what the line is for.
std::string StatusDescription(const std::string& reason);

// A bar's value in whole percent of its range, rounded down: 0 for an empty
// range or a value below it, never above 100.
int BarPercent(long long value, long long minimum, long long maximum);
// How that is read out: "39 %".
std::string PercentText(int percent);
