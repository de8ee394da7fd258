// The Download folder on Windows: "VORN Download" at the root of the drive
// that holds the Windows folder.
#include "platform/DownloadFolder.h"

#include <windows.h>

std::string GetDownloadFolder()
{
    char windows[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    const char drive = n >= 2 && windows[1] == ':' ? windows[0] : 'C';
    std::string folder = " :\\VORN Download\\";
    folder[0] = drive;
    return folder;
}
