#pragma once
#include <chrono>
#include <string>

// Starts a file with its default action: on Linux run directly when it is an
// executable file, otherwise through xdg-open; on Windows the shell's verb.
// It starts in the file's own folder.
// Waits at most `wait` for that process (on Windows the calling thread's
// windows go on painting meanwhile); one still running afterwards is left to
// run. False when nothing could be started (missing file, no handler, spawn failed).
bool StartWithDefaultAction(const std::string& path, std::chrono::milliseconds wait);
