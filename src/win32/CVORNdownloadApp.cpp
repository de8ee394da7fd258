#include "win32/CVORNdownloadApp.h"

#include "win32/CVORNdownloadDlg.h"

#include <commctrl.h>
#include <objbase.h>
#include <windows.h>

CVORNdownloadApp theApp;

CVORNdownloadApp::CVORNdownloadApp()
{
    // Started again after a restart of Windows' own making (an update), with
    // no arguments; nothing is recovered, the job simply runs anew.
    (void)RegisterApplicationRestart(L"", RESTART_NO_CRASH | RESTART_NO_HANG);
}

bool CVORNdownloadApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    (void)InitCommonControlsEx(&controls);   // the dialog fails to show without them, and says so there

    // Screen readers reach the window's controls through COM: an apartment
    // for this thread. Without one the window still works, unread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        CVORNdownloadDlg dialog;
        (void)dialog.DoModal();   // its result is not looked at
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return false;
}
