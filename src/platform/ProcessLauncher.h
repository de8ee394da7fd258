#pragma once
#include <chrono>
#include <string>

// Starts a file with its default action: run directly when it is an
// executable file, otherwise through xdg-open. Waits at most `wait` for that
// process; one still running afterwards is reaped in the background.
// False when nothing could be started (missing file, no handler, spawn failed).
bool StartWithDefaultAction(const std::string& path, std::chrono::milliseconds wait);
