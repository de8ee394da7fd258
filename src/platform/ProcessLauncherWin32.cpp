// Starting a file with its default action on Windows: the shell's own verb.
#include "platform/ProcessLauncher.h"

#include "platform/WideText.h"

#include <windows.h>

// After windows.h, which it needs.
#include <shellapi.h>

bool StartWithDefaultAction(const std::string& path, std::chrono::milliseconds wait)
{
    // The wide call: a path with letters outside the ANSI code page still starts.
    const auto file = WideFromUtf8(path);
    if (!file)
        return false;
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.lpFile = file->c_str();
    run.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&run))
        return false;
    if (run.hProcess) {
        // Waited for a while only: an installer runs as long as it likes.
        (void)WaitForSingleObject(run.hProcess, static_cast<DWORD>(wait.count()));
        CloseHandle(run.hProcess);
    }
    return true;
}
