#include "app/CVORNdownloadDlg.h"

#include "app/CAboutDlg.h"
#include "app/CPercentBarAccessible.h"
#include "app/DialogFonts.h"
#include "app/DialogTemplates.h"
#include "controls/CColourButton.h"
#include "platform/CMessageRegistry.h"
#include "platform/DownloadFolder.h"
#include "platform/ProcessLauncher.h"
#include "worker/CKELDownloadThread.h"
#include "worker/InstallerPath.h"
#include "worker/Messages.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace {

// The dialog's side registers all four names.
const unsigned kProgressBar = CMessageRegistry::Register(kProgressBarName);
const unsigned kFilenameUpdate = CMessageRegistry::Register(kFilenameUpdateName);
const unsigned kEndZip = CMessageRegistry::Register(kEndZipName);
const unsigned kEndThread = CMessageRegistry::Register(kEndThreadName);

const QEvent::Type kNotifyEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A notice with the texts it announced, copied when it was posted.
struct NotifyEvent : QEvent {
    explicit NotifyEvent(CProgressModel::Notice n) : QEvent(kNotifyEvent), notice(std::move(n)) {}
    CProgressModel::Notice notice;
};

const char* const kMessageDescription = "What the download is doing now";

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

}   // namespace

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
    // Every size a desktop asks for, each drawn from the SVG, never stretched.
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        m_hIcon.addPixmap(RenderPicture(":/res/vorndownload.svg", QSize(size, size), 1.0));
    CPercentBarAccessible::Install();
    const struct {
        QWidget* widget;
        const char* name;
        const char* description;
    } accessible[] = {
        {m_AppName, "Application file", "Name of the application archive being fetched"},
        {m_AppProgress, "Application progress", "Download, then unpacking, of the application archive"},
        {m_UpdateName, "Update file", "Name of the update archive being fetched"},
        {m_UpdateProgress, "Update progress", "Download, then unpacking, of the update archive"},
        {m_Message, "Status", kMessageDescription},
        {m_Folder, "Download folder", "Folder that receives all files"},
    };
    for (const auto& a : accessible) {
        a.widget->setAccessibleName(QString::fromLatin1(a.name));
        a.widget->setAccessibleDescription(QString::fromLatin1(a.description));
    }
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
        worker->m_settings.releaseKey = m_releaseKey;
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

long CVORNdownloadDlg::OnProgressBar(std::uint64_t wParam, std::int64_t lParam)
{
    ShowChange(m_model.Take(UM_PROGRESS_BAR, wParam, lParam));
    return 0;
}

void CVORNdownloadDlg::ShowBar(int stage)
{
    QProgressBar* bar = stage == 1 ? m_AppProgress : stage == 2 ? m_UpdateProgress : nullptr;
    const CProgressModel::Bar* state = m_model.BarOf(stage);
    if (!bar || !state)
        return;
    // A fixed range, never empty (Qt would animate a busy bar), and the
    // count scaled into it; a hidden bar is not filled first.
    const int before = CPercentBarAccessible::Percent(*bar);
    bar->setRange(0, kBarSteps);
    bar->setValue(state->Scaled(kBarSteps));
    bar->setVisible(state->shown);
    if (const int percent = CPercentBarAccessible::Percent(*bar); percent != before) {
        QAccessibleValueChangeEvent event(bar, percent);
        QAccessible::updateAccessibility(&event);
    }
}

long CVORNdownloadDlg::OnFilenameUpdate(std::uint64_t wParam, std::int64_t lParam)
{
    ShowChange(m_model.Take(UM_FILENAME_UPDATE, wParam, lParam));
    return 0;
}

void CVORNdownloadDlg::ShowChange(CProgressModel::Change change)
{
    using Change = CProgressModel::Change;
    switch (change) {
    case Change::BarStarted:
    case Change::BarMoved:
    case Change::BarHidden:
        ShowBar(m_model.Stage());
        return;
    case Change::Status:
        SetLineText(m_Message, QString::fromStdString(m_model.Status()), m_NormalFont);
        break;
    case Change::AppName:
        SetLineText(m_AppName, QString::fromStdString(m_model.AppName()), m_NormalFont);
        break;
    case Change::UpdateName:
        SetLineText(m_UpdateName, QString::fromStdString(m_model.UpdateName()), m_NormalFont);
        break;
    case Change::End:
        ShowVerdict();
        // The verdict is on the screen before the installer wait holds the window.
        repaint();
        StartInstaller();
        break;
    default:
        break;
    }
    m_nStage = m_model.Stage();
}

void CVORNdownloadDlg::ShowVerdict()
{
    // The reason in the terminal program's words, on a second line, and
    // for screen readers as the line's description.
    const std::string& reason = m_model.FailureReason();
    QString text = QString::fromStdString(m_model.Status());
    if (!reason.empty())
        text += QLatin1Char('\n') + QString::fromStdString(reason);
    m_Message->setWordWrap(!reason.empty());
    SetLineText(m_Message, text, m_NormalFont);
    m_Message->setAccessibleDescription(reason.empty() ? QString::fromLatin1(kMessageDescription)
                                                       : QString::fromStdString(reason));
}

long CVORNdownloadDlg::OnEndZip(std::uint64_t, std::int64_t)
{
    m_pThread = CWorkerHandle();
    return 0;
}

long CVORNdownloadDlg::OnEndThread(std::uint64_t, std::int64_t)
{
    const bool both = !m_channel->appName.Get().empty() && !m_channel->updateName.Get().empty();
    SetLineText(m_Message, both ? QStringLiteral("Download Finished") : QStringLiteral("Download Failed - Try Again"),
                m_NormalFont);
    return 0;
}

void CVORNdownloadDlg::SetLineText(QLabel* line, const QString& text, const QFont& font)
{
    // A download repeats its status text for every piece within a percent:
    // it is measured and laid out only when it changes.
    const QString shown = line->toolTip().isEmpty() ? line->text() : line->toolTip();
    if (text == shown && line->property("fittedFrom").toString() == font.toString())
        return;
    line->setProperty("fittedFrom", font.toString());
    const QFont fitted = FittedFont(font, text, line->size(), line->wordWrap(), TemplateFont().pixelSize());
    line->setFont(fitted);
    if (TextFits(fitted, text, line->size(), line->wordWrap())) {
        line->setText(text);
        line->setToolTip(QString());
    } else {
        line->setText(QFontMetrics(fitted).elidedText(text, Qt::ElideMiddle, line->width()));
        line->setToolTip(text);
    }
}

void CVORNdownloadDlg::StartInstaller()
{
    // Only an application unpacked whole in this run has an installer worth
    // starting, and only from a path that stays inside the Download folder.
    const std::string app = m_channel->appName.Get();
    QString problem;
    if (app.empty()) {
        problem = QStringLiteral("No application was downloaded, so there is no installer to start.") + FailureLine();
    } else if (!m_channel->applicationComplete) {
        problem = QStringLiteral("The application was not downloaded and unpacked completely, "
                                 "so its installer was not started.") +
                  FailureLine();
    } else if (const InstallerPath installer = FindInstaller(m_downloadFolder, app); !installer.problem.empty()) {
        problem = QStringLiteral("The installer was not started: %1\n%2")
                      .arg(QString::fromStdString(installer.problem), QString::fromStdString(installer.path));
    } else if (m_launcher && !m_launcher(installer.path)) {
        problem = InstallerErrorText(installer.path);
    }
    if (!problem.isEmpty()) {
        auto* box =
            new QMessageBox(QMessageBox::Warning, QStringLiteral("VORNdownload"), problem, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
}

QString CVORNdownloadDlg::FailureLine() const
{
    // The worker's reason, set before it posts the run's end.
    const std::string why = m_channel->failureReason.Get();
    return why.empty() ? QString() : QStringLiteral("\n") + QString::fromStdString(why);
}

void CVORNdownloadDlg::PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam)
{
    // On the worker's thread, right after it wrote the slot this notice announces.
    QCoreApplication::postEvent(this, new NotifyEvent(CProgressModel::Capture(*m_channel, message, wParam, lParam)));
}

void CVORNdownloadDlg::customEvent(QEvent* event)
{
    if (event->type() != kNotifyEvent)
        return CColourDialogEx::customEvent(event);
    const CProgressModel::Notice& n = static_cast<NotifyEvent*>(event)->notice;
    if (n.message == kProgressBar || n.message == kFilenameUpdate)
        ShowChange(m_model.Take(n));
    else if (n.message == kEndZip)
        OnEndZip(n.wParam, n.lParam);
    else if (n.message == kEndThread)
        OnEndThread(n.wParam, n.lParam);
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

void CVORNdownloadDlg::showEvent(QShowEvent* event)
{
    CColourDialogEx::showEvent(event);
    if (!event->spontaneous() && !m_placed) {
        m_placed = true;
        // Before the window manager frames it, the position is the client's
        // own: leave room above it for a title bar, centred on its screen.
        if (const QScreen* s = screen()) {
            const QRect room = s->availableGeometry();
            const int title = std::max(24, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
            move(room.left() + std::max(0, (room.width() - width()) / 2),
                 room.top() + std::max(0, (room.height() - height() - title) / 2) + title);
        }
    }
    // Once the frame is known, whatever its size, the whole of it is brought
    // onto the screen; window managers frame a window at their own pace.
    for (int ms : {0, 250, 1000})
        QTimer::singleShot(ms, this, [this] { KeepOnScreen(); });
}

void CVORNdownloadDlg::KeepOnScreen()
{
    const QScreen* s = screen();
    if (!s || !isVisible())
        return;
    const QRect room = s->availableGeometry();
    const QRect frame = frameGeometry();
    // Left/top edges win where the window is larger than the screen: the
    // title bar stays reachable.
    const int x = std::max(room.left(), std::min(frame.left(), room.right() + 1 - frame.width()));
    const int y = std::max(room.top(), std::min(frame.top(), room.bottom() + 1 - frame.height()));
    if (x != frame.left() || y != frame.top())
        move(pos() + QPoint(x - frame.left(), y - frame.top()));
}

void CVORNdownloadDlg::done(int result)
{
    // Gone from the screen at once; the worker stops through its flag and,
    // while nothing is shown, leaves a partial archive as "<name>.part" with
    // its "<name>.part-state" for the next run to resume from.
    hide();
    m_channel->Detach();
    m_pThread.RequestStop();
    CColourDialogEx::done(result);
}

void CVORNdownloadDlg::StopWorker()
{
    // Nothing reaches this dialog after the channel is detached. The program
    // ends only once the worker has finished: no thread is left running.
    m_channel->Detach();
    m_pThread.RequestStop();
    m_pThread.WaitFinished();
}
