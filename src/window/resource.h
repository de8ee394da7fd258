#pragma once
// Resource and control ids of both windows, shared by the Windows resource
// script, the Qt dialog table and the code. Plain defines: the resource
// compiler reads this file too.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VORNDOWNLOAD_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BANNER 130

#ifndef IDOK
#define IDOK 1
#endif
#define IDC_APP_NAME 1002
#define IDC_APP_CAPTION 1003
#define IDC_APP_PROGRESS 1004
#define IDC_UPDATE_CAPTION 1005
#define IDC_UPDATE_NAME 1006
#define IDC_UPDATE_PROGRESS 1007
#define IDC_MESSAGE 1008
#define IDC_FOLDER_CAPTION 1009
#define IDC_FOLDER 1010

// The system menu's About entry.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
