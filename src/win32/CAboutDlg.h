#pragma once
#include "win32/CColourDialogEx.h"

// The About box: icon, name and version, the publisher; the dark look only.
class CAboutDlg : public CColourDialogEx {
public:
    CAboutDlg();
};
