#include "app/CAboutDlg.h"

#include "app/DialogTemplates.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CColourDialogEx(100, parent)
{
    BuildDialog(*this, AboutDialogTemplate(), /*colourOk=*/false);
    ApplyControlColours();
}
