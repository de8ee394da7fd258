#include "app/CVORNdownloadApp.h"

#include "VornVersion.h"
#include "app/CSmoothBarStyle.h"
#include "app/CVORNdownloadDlg.h"
#include "app/DialogFonts.h"

#include <QStyleFactory>

CVORNdownloadApp::CVORNdownloadApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("Brevant Technology Limited"));
    setApplicationName(QStringLiteral("VORNdownload"));
    setApplicationVersion(QStringLiteral(VORN_VERSION));
    LoadDialogFonts();
}

bool CVORNdownloadApp::InitInstance()
{
    if (QStyle* windows = QStyleFactory::create(QStringLiteral("Windows")))
        setStyle(new CSmoothBarStyle(windows));   // takes the base style over
    // The main window is an ordinary application window, run by the
    // application's own event loop; closing it ends the program.
    CVORNdownloadDlg dlg;
    QObject::connect(&dlg, &QDialog::finished, this, &QApplication::quit);
    dlg.OnInitDialog();
    dlg.show();
    exec();
    return false;
}
