#include "app/CVORNdownloadDlg.h"

#include "app/CAboutDlg.h"
#include "app/DialogFonts.h"
#include "app/DialogTemplates.h"
#include "controls/CColourButton.h"
#include "platform/CMessageRegistry.h"
#include "platform/DownloadFolder.h"
#include "platform/ProcessLauncher.h"
#include "worker/CKELDownloadThread.h"
#include "worker/InstallerPath.h"
#include "worker/Messages.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>

#include <algorithm>

namespace {

// The dialog's side registers all four names.
const unsigned kProgressBar = CMessageRegistry::Register(kProgressBarName);
const unsigned kFilenameUpdate = CMessageRegistry::Register(kFilenameUpdateName);
const unsigned kEndZip = CMessageRegistry::Register(kEndZipName);
const unsigned kEndThread = CMessageRegistry::Register(kEndThreadName);

const QEvent::Type kNotifyEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

struct NotifyEvent : QEvent {
    NotifyEvent(unsigned m, std::uint32_t w, std::int32_t l) : QEvent(kNotifyEvent), message(m), wParam(w), lParam(l) {}
    unsigned message;
    std::uint32_t wParam;
    std::int32_t lParam;
};

template <class T>
T* Control(QWidget& dialog, int id)
{
    for (QWidget* w : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (ControlId(w) == id)
            return qobject_cast<T*>(w);
    return nullptr;
}

bool DefaultLauncher(const std::string& path)
{
    return StartWithDefaultAction(path, std::chrono::milliseconds(5000));
}

} // namespace

QString InstallerErrorText(const std::string& path)
{
    return QStringLiteral("The installer could not be started:\n%1").arg(QString::fromStdString(path));
}

CVORNdownloadDlg::CVORNdownloadDlg(QWidget* parent)
    : CColourDialogEx(102, parent),
      m_NormalFont(DialogFont(20)),
      m_LargeFont(DialogFont(30)),
      m_channel(std::make_shared<CNotifyChannel>(this)),
      m_launcher(DefaultLauncher),
      m_downloadFolder(GetDownloadFolder())
{
    BuildDialog(*this, MainDialogTemplate(), /*colourOk=*/true);
    m_AppName = Control<QLabel>(*this, IDC_APP_NAME);
    m_AppCaption = Control<QLabel>(*this, IDC_APP_CAPTION);
    m_OK = dynamic_cast<CColourButton*>(Control<QPushButton>(*this, IDOK));
    m_UpdateCaption = Control<QLabel>(*this, IDC_UPDATE_CAPTION);
    m_AppProgress = Control<QProgressBar>(*this, IDC_APP_PROGRESS);
    m_Message = Control<QLabel>(*this, IDC_MESSAGE);
    m_UpdateName = Control<QLabel>(*this, IDC_UPDATE_NAME);
    m_UpdateProgress = Control<QProgressBar>(*this, IDC_UPDATE_PROGRESS);
    m_FolderCaption = Control<QLabel>(*this, IDC_FOLDER_CAPTION);
    m_Folder = Control<QLabel>(*this, IDC_FOLDER);
    m_hIcon = QIcon(RenderPicture(":/res/vorndownload.svg", QSize(64, 64)));
    m_nStage = 0;
    // A top-level application window (task bar, minimise), not a dialog.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
}

CVORNdownloadDlg::~CVORNdownloadDlg()
{
    StopWorker();
}

bool CVORNdownloadDlg::OnInitDialog(bool startWorker)
{
    ApplyControlColours();
    setWindowIcon(m_hIcon);
    for (QLabel* l : {m_AppName, m_AppCaption, m_UpdateCaption, m_UpdateName, m_FolderCaption, m_Message})
        SetLineText(l, l->text(), m_NormalFont);
    m_Folder->setFont(m_LargeFont);
    // The real folder, not a fixed text that names a folder that is not there;
    // shortened in the middle where it is wider than the line, whole in the tooltip.
    const QString folder = QString::fromStdString(m_downloadFolder);
    m_Folder->setText(QFontMetrics(m_LargeFont).elidedText(folder, Qt::ElideMiddle, m_Folder->width()));
    m_Folder->setToolTip(folder);
    SetLineText(m_AppName, QString(), m_NormalFont);
    SetLineText(m_UpdateName, QString(), m_NormalFont);
    m_AppProgress->setVisible(false);
    m_UpdateProgress->setVisible(false);

    if (startWorker) {
        auto* worker = new CKELDownloadThread;
        worker->m_downloadFolder = m_downloadFolder;
        m_pThread = CWorkerHandle::BeginSuspended(worker);
        if (m_pThread) {   // without a thread the dialog carries on with none
            worker->Wire(m_channel);
            m_pThread.Resume();
        }
    }
    return true;
}

void CVORNdownloadDlg::OnSysCommand(unsigned id)
{
    if ((id & 0xFFF0u) == 0x10u) {
        CAboutDlg about(this);
        about.exec();
    }
}

CtlColor CVORNdownloadDlg::OnCtlColor(CtlColorKind kind, int controlId)
{
    CtlColor c = CColourDialogEx::OnCtlColor(kind, controlId);
    if (kind == CTLCOLOR_STATIC) {
        if (controlId == IDC_MESSAGE)
            c.text = ToQColor(Rgb(255, 255, 0));
        else if (controlId == IDC_FOLDER)
            c.text = ToQColor(Rgb(0, 255, 255));
    }
    return c;
}

long CVORNdownloadDlg::OnProgressBar(std::uint32_t wParam, std::int32_t lParam)
{
    QProgressBar* bar = m_nStage == 1 ? m_AppProgress : m_nStage == 2 ? m_UpdateProgress : nullptr;
    if (!bar)
        return 0;
    const auto position = static_cast<std::int32_t>(wParam);
    if (position == 0) {
        // An empty range is an empty, still bar (Qt would animate a busy one).
        bar->setRange(0, std::max(lParam, 1));
        bar->setValue(0);
        bar->setVisible(true);
    } else if (position == lParam) {
        bar->setVisible(false);
    } else if (lParam > 0) {
        bar->setValue(position);
    }
    return 0;
}

long CVORNdownloadDlg::OnFilenameUpdate(std::uint32_t wParam, std::int32_t)
{
    switch (wParam) {
    case kStatusChanged:
        SetLineText(m_Message, QString::fromStdString(m_channel->statusText.Get()), m_NormalFont);
        break;
    case kApplicationChosen:
        SetLineText(m_AppName, QString::fromStdString(m_channel->appName.Get()), m_NormalFont);
        m_nStage = 1;
        break;
    case kUpdateChosen:
        SetLineText(m_UpdateName, QString::fromStdString(m_channel->updateName.Get()), m_NormalFont);
        m_nStage = 2;
        break;
    case kJobOver:
        SetLineText(m_Message, QString::fromStdString(m_channel->statusText.Get()), m_NormalFont);
        // The verdict is on the screen before the installer wait holds the window.
        repaint();
        StartInstaller();
        break;
    default:
        break;
    }
    return 0;
}

long CVORNdownloadDlg::OnEndZip(std::uint32_t, std::int32_t)
{
    m_pThread = CWorkerHandle();
    return 0;
}

long CVORNdownloadDlg::OnEndThread(std::uint32_t, std::int32_t)
{
    const bool both = !m_channel->appName.Get().empty() && !m_channel->updateName.Get().empty();
    SetLineText(m_Message, both ? QStringLiteral("Download Finished") : QStringLiteral("Download Failed - Try Again"),
                m_NormalFont);
    return 0;
}

void CVORNdownloadDlg::SetLineText(QLabel* line, const QString& text, const QFont& font)
{
    line->setText(text);
    line->setFont(FittedFont(font, text, line->size(), line->wordWrap()));
}

void CVORNdownloadDlg::StartInstaller()
{
    // Only an application unpacked whole in this run has an installer worth
    // starting, and only from a path that stays inside the Download folder.
    const std::string app = m_channel->appName.Get();
    QString problem;
    if (app.empty()) {
        problem = QStringLiteral("No application was downloaded, so there is no installer to start.");
    } else if (!m_channel->applicationComplete) {
        problem = QStringLiteral("The application was not downloaded and unpacked completely, "
                                 "so its installer was not started.");
    } else if (const InstallerPath installer = FindInstaller(m_downloadFolder, app); !installer.problem.empty()) {
        problem = QStringLiteral("The installer was not started: %1\n%2")
                      .arg(QString::fromStdString(installer.problem), QString::fromStdString(installer.path));
    } else if (m_launcher && !m_launcher(installer.path)) {
        problem = InstallerErrorText(installer.path);
    }
    if (!problem.isEmpty()) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("VORNdownload"), problem, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
}

void CVORNdownloadDlg::PostMessage(unsigned message, std::uint32_t wParam, std::int32_t lParam)
{
    QCoreApplication::postEvent(this, new NotifyEvent(message, wParam, lParam));
}

void CVORNdownloadDlg::customEvent(QEvent* event)
{
    if (event->type() != kNotifyEvent)
        return CColourDialogEx::customEvent(event);
    const auto* n = static_cast<NotifyEvent*>(event);
    if (n->message == kProgressBar)
        OnProgressBar(n->wParam, n->lParam);
    else if (n->message == kFilenameUpdate)
        OnFilenameUpdate(n->wParam, n->lParam);
    else if (n->message == kEndZip)
        OnEndZip(n->wParam, n->lParam);
    else if (n->message == kEndThread)
        OnEndThread(n->wParam, n->lParam);
}

void CVORNdownloadDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("&About VORNdownload..."), [this] { OnSysCommand(0x10); });
    menu.exec(event->globalPos());
}

void CVORNdownloadDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1)
        OnSysCommand(0x10);
    else
        CColourDialogEx::keyPressEvent(event);
}

void CVORNdownloadDlg::done(int result)
{
    StopWorker();
    CColourDialogEx::done(result);
}

void CVORNdownloadDlg::StopWorker()
{
    // Nothing reaches this dialog after the channel is detached; the worker
    // stops through its flag and removes a partial archive on its way out.
    m_channel->Detach();
    m_pThread.RequestStop();
    m_pThread.WaitFinished(std::chrono::milliseconds(900));
}
