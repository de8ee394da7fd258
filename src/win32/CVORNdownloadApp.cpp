#include "win32/CVORNdownloadApp.h"

#include "win32/CVORNdownloadDlg.h"

#include <commctrl.h>
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

    CVORNdownloadDlg dialog;
    (void)dialog.DoModal();   // its result is not looked at
    return false;
}
