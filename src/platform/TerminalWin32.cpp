// The terminal on Windows: the console's mode and size, and its control handler.
#include "platform/Terminal.h"

#include <windows.h>

namespace {

std::atomic<bool>* g_interrupted = nullptr;
volatile LONG g_seen = 0;

BOOL WINAPI OnControl(DWORD)
{
    // The first Ctrl-C (or close) is ours; the next goes on to the default, which ends the program.
    if (InterlockedExchange(&g_seen, 1) != 0)
        return FALSE;
    g_interrupted->store(true);   // lock-free: safe in a handler
    return TRUE;
}

}   // namespace

bool OutputIsTerminal()
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode))
        return false;
    // Without it a console prints the redraw's escape as it stands.
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void CatchInterrupt(std::atomic<bool>& interrupted)
{
    g_interrupted = &interrupted;
    SetConsoleCtrlHandler(OnControl, TRUE);
}
