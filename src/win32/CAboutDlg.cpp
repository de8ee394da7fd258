#include "win32/CAboutDlg.h"

#include "win32/resource.h"

CAboutDlg::CAboutDlg() : CColourDialogEx(IDD_ABOUTBOX)
{}
