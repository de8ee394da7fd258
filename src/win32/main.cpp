// VORNdownload.exe: the window program for Windows.
#include "win32/CVORNdownloadApp.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    theApp.InitInstance();
    return 0;
}
