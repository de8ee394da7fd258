#include "app/CVORNdownloadApp.h"

#include "app/CVORNdownloadDlg.h"

#include <QStyleFactory>

CVORNdownloadApp::CVORNdownloadApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("Brevant Technology Limited"));
    setApplicationName(QStringLiteral("VORNdownload"));
    setApplicationVersion(QStringLiteral("1.0.0.1"));
}

bool CVORNdownloadApp::InitInstance()
{
    if (QStyle* windows = QStyleFactory::create(QStringLiteral("Windows")))
        setStyle(windows);
    CVORNdownloadDlg dlg;
    dlg.OnInitDialog();
    dlg.exec();
    return false;
}
