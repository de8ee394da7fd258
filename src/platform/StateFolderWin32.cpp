// The state folder on Windows: the user's local application data.
#include "platform/StateFolder.h"
#include "platform/WideText.h"

#include <windows.h>

std::string GetStateFolder()
{
    wchar_t folder[32768];
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, 32768);
    if (n == 0 || n >= 32768)
        return {};
    std::string path = Utf8FromWide(std::wstring(folder, n));
    if (path.back() != '\\')
        path += '\\';
    return path + "VORNdownload\\";
}
