#pragma once
#include "controls/CColourDialogEx.h"

class CAboutDlg : public CColourDialogEx {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
