// A stand-in installer for the window's tests: it leaves C:\setup-started.txt
// holding the full path it was started from (UTF-8), so the test can tell that
// the window started it, and which copy; and "started-here.txt" in its working
// folder, by that name alone, as installers open the files beside them.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return 2;
    path.resize(length);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(length), text.data(), bytes, nullptr, nullptr);
    // Written beside and then moved, so the test never reads half a path.
    const HANDLE file =
        CreateFileW(L"C:\\setup-started.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (!wrote || written != text.size())
        return 4;
    const HANDLE here =
        CreateFileW(L"started-here.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (here == INVALID_HANDLE_VALUE)
        return 6;
    CloseHandle(here);
    return MoveFileExW(L"C:\\setup-started.tmp", L"C:\\setup-started.txt", MOVEFILE_REPLACE_EXISTING) ? 0 : 5;
}
