// Starting a file with its default action on Windows: the shell's own verb.
#include "platform/ProcessLauncher.h"

#include "platform/WideText.h"

#include <windows.h>

// After windows.h, which it needs.
#include <shellapi.h>

namespace {

// Waits for the process at most `wait`. A window of the calling thread goes
// on painting and answering what other programs send it meanwhile (nothing
// posted to it is handled, so nothing happens out of turn); a thread without
// windows simply waits.
void AwaitStarted(HANDLE process, std::chrono::milliseconds wait)
{
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(wait.count());
    for (ULONGLONG now = GetTickCount64(); now < until; now = GetTickCount64()) {
        const DWORD woke =
            MsgWaitForMultipleObjects(1, &process, FALSE, static_cast<DWORD>(until - now), QS_PAINT | QS_SENDMESSAGE);
        if (woke != WAIT_OBJECT_0 + 1)
            return;   // ended, timed out, or the wait failed
        // Sent messages are answered inside PeekMessage, whatever its filter.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}

}   // namespace

bool StartWithDefaultAction(const std::string& path, std::chrono::milliseconds wait)
{
    // The wide call: a path with letters outside the ANSI code page still starts.
    const auto file = WideFromUtf8(path);
    if (!file)
        return false;
    // The installer starts in its own folder, so that it finds the files
    // beside it ("setup.ini", its cabinets) by their names alone.
    const std::size_t separator = file->find_last_of(L"\\/");
    const std::wstring folder = separator == std::wstring::npos ? std::wstring() : file->substr(0, separator + 1);
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.lpFile = file->c_str();
    run.lpParameters = L"";
    run.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    run.nShow = SW_SHOW;
    if (!ShellExecuteExW(&run))
        return false;
    if (run.hProcess) {
        // Waited for a while only: an installer runs as long as it likes.
        AwaitStarted(run.hProcess, wait);
        CloseHandle(run.hProcess);
    }
    return true;
}
