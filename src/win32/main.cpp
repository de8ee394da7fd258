// VORNdownload.exe: the window program for Windows.
#include "win32/CVORNdownloadApp.h"
#include "worker/FtpSettings.h"
#include "worker/ReleaseKey.h"

#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // A mirror named wrongly in the environment is said before anything starts.
    if (const std::string problem = FtpSettingsProblem(); !problem.empty()) {
        std::fprintf(stderr, "VORNdownload: %s\n", problem.c_str());
        MessageBoxA(nullptr, problem.c_str(), "VORNdownload", MB_OK | MB_ICONERROR);
        return 1;
    }
    // Seen where the program's error output goes (a console that redirects it, Wine).
    if (*BuiltInReleaseKey() == '\0')
        std::fprintf(stderr, "VORNdownload: %s\n", kReleasesNotVerified);
    theApp.InitInstance();
    return 0;
}
