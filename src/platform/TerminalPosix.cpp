// The terminal on POSIX systems: isatty, TIOCGWINSZ, SIGINT and SIGTERM.
#include "platform/Terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::atomic<bool>* g_interrupted = nullptr;

void OnSignal(int)
{
    g_interrupted->store(true);   // lock-free: safe in a handler
}

}   // namespace

bool OutputIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

int TerminalColumns()
{
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void CatchInterrupt(std::atomic<bool>& interrupted)
{
    g_interrupted = &interrupted;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sa.sa_flags = SA_RESETHAND;   // a second signal takes its default course
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
