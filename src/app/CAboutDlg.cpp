#include "app/CAboutDlg.h"

#include "app/DialogTemplates.h"

#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : CColourDialogEx(100, parent)
{
    BuildDialog(*this, AboutDialogTemplate(), /*colourOk=*/false);
    ApplyControlColours();
    // A plain button on the dark face: its caption in the scheme's text
    // colour, not the style's black (white on dark grey is 7.5:1).
    for (QPushButton* ok : findChildren<QPushButton*>()) {
        QPalette p = ok->palette();
        p.setColor(QPalette::ButtonText, ToQColor(m_crTextColour));
        ok->setPalette(p);
    }
}
