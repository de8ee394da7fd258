#pragma once
#include <atomic>

// Standard output is a terminal (a console on Windows) that takes the
// "\r\033[K" line redraw; on Windows that is switched on here.
bool OutputIsTerminal();
// The terminal's width in columns; 0 when it cannot be told.
int TerminalColumns();
// Sets `interrupted` on Ctrl-C or a request to terminate; a second one takes
// its default course and ends the program at once.
void CatchInterrupt(std::atomic<bool>& interrupted);
