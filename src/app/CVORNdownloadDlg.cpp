#include "app/CVORNdownloadDlg.h"

#include "app/CAboutDlg.h"
#include "app/CPercentBarAccessible.h"
#include "app/DialogFonts.h"
#include "app/DialogTemplates.h"
#include "controls/CColourButton.h"
#include "platform/DownloadFolder.h"
#include "window/AccessibleControls.h"
#include "window/WindowColours.h"

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

const QEvent::Type kNotifyEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A notice with the texts it announced, copied when it was posted.
struct NotifyEvent : QEvent {
    explicit NotifyEvent(CProgressModel::Notice n) : QEvent(kNotifyEvent), notice(std::move(n)) {}
    CProgressModel::Notice notice;
};

template <class T>
T* Control(QWidget& dialog, int id)
{
    for (QWidget* w : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (ControlId(w) == id)
            return qobject_cast<T*>(w);
    return nullptr;
}

}   // namespace

CVORNdownloadDlg::CVORNdownloadDlg(QWidget* parent)
    : CColourDialogEx(IDD_VORNDOWNLOAD_DIALOG, parent),
      CWindowLogic(this),
      m_NormalFont(DialogFont(20)),
      m_LargeFont(DialogFont(30))
{
    m_downloadFolder = GetDownloadFolder();
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
    for (const AccessibleControl& a : MainDialogAccessibleControls()) {
        QWidget* control = Control<QWidget>(*this, a.id);
        control->setAccessibleName(QString::fromLatin1(a.name));
        control->setAccessibleDescription(QString::fromLatin1(a.description));
    }
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

    if (startWorker)
        StartWorker();
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
        if (const auto own = MainDialogTextColour(controlId))
            c.text = ToQColor(*own);
    }
    return c;
}

void CVORNdownloadDlg::ShowLine(Line line, const std::string& text)
{
    QLabel* label = line == Line::AppName ? m_AppName : line == Line::UpdateName ? m_UpdateName : m_Message;
    SetLineText(label, QString::fromStdString(text), m_NormalFont);
}

void CVORNdownloadDlg::ShowBar(int stage, int position, bool shown)
{
    QProgressBar* bar = stage == 1 ? m_AppProgress : m_UpdateProgress;
    // A fixed range, never empty (Qt would animate a busy bar).
    const int before = CPercentBarAccessible::Percent(*bar);
    bar->setRange(0, kBarSteps);
    bar->setValue(position);
    bar->setVisible(shown);
    if (const int percent = CPercentBarAccessible::Percent(*bar); percent != before) {
        QAccessibleValueChangeEvent event(bar, percent);
        QAccessible::updateAccessibility(&event);
    }
}

void CVORNdownloadDlg::ShowVerdict(const std::string& text, const std::string& reason)
{
    // The reason is also the line's description, for screen readers.
    m_Message->setWordWrap(!reason.empty());
    SetLineText(m_Message, QString::fromStdString(text), m_NormalFont);
    m_Message->setAccessibleDescription(QString::fromStdString(StatusDescription(reason)));
}

void CVORNdownloadDlg::PaintNow()
{
    repaint();
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

void CVORNdownloadDlg::ShowProblem(const std::string& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("VORNdownload"), QString::fromStdString(text),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
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
    Take(static_cast<NotifyEvent*>(event)->notice);
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
    OnClose();
    CColourDialogEx::done(result);
}
