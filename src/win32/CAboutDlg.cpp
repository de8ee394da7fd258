#include "win32/CAboutDlg.h"

#include "window/resource.h"

CAboutDlg::CAboutDlg() : CColourDialogEx(IDD_ABOUTBOX)
{}
